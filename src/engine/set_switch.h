// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/backup.h"
#include "platform/date_time.h"

// How an archive job's set (volumes, checksum file, catalogue) at a local destination is
// replaced without a moment at which neither the old nor the new set can be restored:
//
// 1. every new file is copied beside its name as NAME.kestrel-new (the old set is untouched);
// 2. once all are there and flushed, the journal JOB.fs.switch lists them (written atomically);
// 3. each staged file is renamed over its name, volumes first, the catalogue last; a full set
//    then drops old volumes the new one does not have;
// 4. the journal is removed.
//
// A run killed before step 2 leaves the old set and staged files that the next run removes; one
// killed after it leaves a journal by which the next run or restore completes the switch.
namespace kestrel {

class RunControl;

inline constexpr std::string_view kStagedSuffix = ".kestrel-new";
inline constexpr std::string_view kSwitchSuffix = ".switch";

// The folder inside a local destination where a run builds the job's archive (.JOB.kestrel-build),
// so that each volume is written once, on the destination's own file system, and staged by a
// rename.
std::string buildFolderOf(const clsBackup& job);

// Whether a file name in the destination belongs to the job's set: JOB.fs, JOB.fs.sums,
// JOB.fs.switch and volumes JOB[stamp][-NNN].uxarc.
bool isSetFileOf(const std::string& jobName, std::string_view fileName);

// A full set's own volumes: JOB.uxarc and JOB-NNN.uxarc.
bool isFullVolumeOf(const std::string& jobName, std::string_view fileName);

// The journal of a switch: whether the set is full (old volumes it lacks are dropped) and the
// staged names in the order they are renamed.
struct SwitchJournal {
    bool full = false;
    std::vector<std::string> names;
};
std::string switchJournalText(const SwitchJournal& journal);
// Nothing when the text is no journal of the job's set (a damaged or foreign file).
std::optional<SwitchJournal> parseSwitchJournal(std::string_view text, const std::string& jobName);
// JOB.fs.switch
std::string switchJournalName(const std::string& jobName);

// A catalogue that could not be read or fetched is never overwritten: it is kept beside the new
// set as JOB.fs.kept-yyyyMMddHHmmss (its checksum file with it, the same name + ".sums"), where
// the restore finds it.
inline constexpr std::string_view kKeptInfix = ".kept-";
std::string keptCatalogueName(const std::string& jobName, const DateTime& when);
// Whether a file name is one of the job's kept catalogues (not their checksum files).
bool isKeptCatalogueOf(const std::string& jobName, std::string_view fileName);

// Renames the job's catalogue at a local destination (and its checksum file) to the kept name.
// False (and *error) when it could not; nothing is changed then.
[[nodiscard]] bool keepCatalogue(const clsBackup& job, const std::string& keptName,
                                 std::string* error);

// Steps 2 to 4 for the staged files (names without the suffix, in the order to rename them).
// False (and *error) when the set could not be put in place; the journal then stays when it was
// written, so that the next run completes the switch.
[[nodiscard]] bool SwitchSet(RunControl& rc, const clsBackup& job,
                             const std::vector<std::string>& names, bool full, std::string* error);

// Removes the staged files of a run that did not reach its switch.
void DiscardStaged(RunControl& rc, const clsBackup& job, const std::vector<std::string>& names);

// Completes a switch an interrupted run left (journal present). With removeLeftovers (a run,
// which holds the program folder's run lock) also removes what RemoveRunLeftovers does, staged
// files included. Every change is logged.
void RecoverSet(RunControl& rc, const clsBackup& job, bool removeLeftovers);

// Removes what a run of the job that did not end left at its local destination: its build
// folder (the plaintext of an archive being built) and, withStaged, the set's staged files when
// no journal names them, its copies cut short (NAME.part-XXXXXX) and a cut journal. Only for the
// holder of the program folder's run lock: a running backup owns these. Each removal is logged,
// and so is a build folder that cannot be removed.
void RemoveRunLeftovers(RunControl& rc, const clsBackup& job, bool withStaged);

}  // namespace kestrel
