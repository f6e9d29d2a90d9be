// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <unordered_set>

#include "archive/dsk_file.h"
#include "jobs/backup.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace kestrel {

class RunControl;
class FtpClient;

// What storing one file did, with the values the transfer has always returned.
enum class StoreResult { Stored = 1, NotStored = 2 };

// The destination folders a run has made ready for copies (made, and made private): each is
// prepared once, not for every file copied into it.
struct ReadyFolders {
    std::unordered_set<std::string> prepared;
    // The folder the last copy went to, held open: the files that follow in it are named in it
    // rather than by their whole paths.
    std::string heldPath;
    UniqueFd held;
    std::string heldSourcePath;  // the same for the folder copied from
    UniqueFd heldSource;
};

// Copies one working-list file to the job's local destination: plain copies mirror the source
// folder below the destination folder (/home/u/f.txt -> DEST/home/u/f.txt), archive files go
// into the destination folder itself. No other user reads a copy: archive files are 0600, a
// plain copy keeps only its owner's permission bits (a read-only or executable file stays so for
// its owner), the folders made for it are 0700 and the folder of a plain copy below the
// destination loses its group and other bits. The copy keeps the file's times and replaces an
// existing copy only when complete. It yields while it copies and stops, leaving nothing
// behind, when the user aborts the run or cancels the file (bCancelFile, which it clears; the
// file is logged as skipped). sourceOverride, when given, is
// copied in the file's place (an encrypted copy of it). Returns StoreResult::Stored or
// StoreResult::NotStored; *status tells why a copy failed (isDiskFull: a full destination).
// stageSuffix, when given, is appended to the destination's name (the logs name the final one).
// ready, when given, holds the folders already prepared and takes the ones this call prepares.
[[nodiscard]] StoreResult CopyFileToDestination(RunControl& rc, const clsBackup& job,
                                                const clsDskFile& file,
                                                const std::string& sourceOverride = "",
                                                Status* status = nullptr,
                                                std::string_view stageSuffix = {},
                                                ReadyFolders* ready = nullptr);

// Uploads one working-list file into the job's remote folder. It goes up under a staged name
// (NAME.kestrel-new) and, unless keepStaged (an archive set, switched as a whole later), is
// renamed over its name once the server holds all of it, so that a cut upload never replaces
// the copy a run stored before. A failed, stopped or cancelled upload removes its partial file;
// a cancelled one (bCancelFile, which it clears) is logged as skipped. A plain copy is given
// the file's last-write time where the server can set it.
[[nodiscard]] StoreResult UploadFile(RunControl& rc, FtpClient& session, const clsBackup& job,
                                     const clsDskFile& file, const std::string& sourceOverride = "",
                                     bool keepStaged = false);

// The folder where CopyFileToDestination puts a file.
std::string destinationFolder(const clsBackup& job, const clsDskFile& file);

// Creates every missing level of a folder path, 0700; true when it exists afterwards.
[[nodiscard]] bool MakeDirs(const std::string& path);

// Deletes every file in the run's temporary folder (sub-folders stay); false (and a log line)
// when one could not be deleted.
[[nodiscard]] bool CleanTempFolder(RunControl& rc, const std::string& folder);

}  // namespace kestrel
