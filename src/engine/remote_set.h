// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jobs/backup.h"

// How an archive job's set on an FTP server is replaced, the way a local one is (set_switch.h):
//
// 1. every new file is uploaded as NAME.kestrel-new and its size checked; the old set is
//    untouched;
// 2. the journal JOB.fs.switch is uploaded under a staged name and renamed into place, which
//    also proves that the server renames at all before anything of the old set is touched;
// 3. each staged file is renamed over its name, volumes first, the catalogue last; a full set
//    then drops the old volumes the new one does not have;
// 4. the journal is removed.
//
// A run cut before step 2 leaves the old set whole and staged files that the next run removes;
// one cut after it leaves the journal, by which the next run or restore completes the switch.
namespace kestrel {

class RunControl;
class FtpClient;

// The files of the job's remote folder by name, with their sizes.
using RemoteListing = std::map<std::string, std::int64_t>;

// Enters the job's remote folder and lists it. Nothing (and a log line) when it cannot.
std::optional<RemoteListing> listRemoteFolder(RunControl& rc, FtpClient& session,
                                              const clsBackup& job);

// Completes a switch that a cut run left (the journal on the server), downloading the journal
// into folder. With removeLeftovers (a run) also removes staged uploads a cut run left without
// a journal. listing is brought up to date. False (logged) when a journal is there but the
// switch could not be completed: the set must then not be touched.
[[nodiscard]] bool RecoverRemoteSet(RunControl& rc, FtpClient& session, const clsBackup& job,
                                    RemoteListing& listing, const std::string& folder,
                                    bool removeLeftovers);

// Steps 2 to 4 for the staged names (without the suffix, volumes first, catalogue last). The
// journal is written in folder first. keptName, when given, is the name the old catalogue (and
// its checksum file) takes before the journal, so that the new set never replaces it. False
// (and *error) when the set could not be put in place; when that happened before the journal
// was in place the old set is untouched and the staged files are removed.
[[nodiscard]] bool SwitchRemoteSet(RunControl& rc, FtpClient& session, const clsBackup& job,
                                   const std::vector<std::string>& names, bool full,
                                   const RemoteListing& listing, const std::string& folder,
                                   const std::string& keptName, std::string* error);

// Removes the staged uploads of a run that did not reach its switch.
void DiscardRemoteStaged(RunControl& rc, FtpClient& session, const clsBackup& job,
                         const std::vector<std::string>& names);

}  // namespace kestrel
