// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ftp/ftp_client.h"
#include "jobs/backup.h"

namespace kestrel {

struct AppContext;
class RunControl;

// The folder below the run's temporary folder where a protected job's plain copies are
// encrypted (never the source itself). A run killed there leaves plaintext in it.
inline constexpr const char* kEncryptFolder = "encrypt";

struct RunOptions {
    // Makes the FTP session for jobs with an FTP destination; none = FTP is not available.
    FtpClientFactory ftp;
    // The run's temporary folder, which it owns for its duration: archives are built and
    // catalogues fetched here. "" = the program folder's temp/.
    std::string tempDir;
    // Writes the job's outcome (enumStatus, lastOK) to the job store, when the run's end comes
    // to that step; false when it could not be written. None = nothing is stored.
    std::function<bool(const clsBackup& job)> saveOutcome;
};

// What a run did; the job's enumStatus and lastOK and the log tell the same.
struct RunSummary {
    bool started = false;  // false: refused (another run was active, no such job, locked)
    std::int64_t stored = 0;
    std::int64_t notStored = 0;  // includes sources that could not be read
    std::int64_t total = 0;      // files in the working list at the end
    std::int32_t status = 0;     // the job's enumStatus afterwards
    bool mediaFull = false;
    bool outcomeSaved = true;  // false: the job store could not take the outcome
};

// One backup of a job: lists and filters the sources, drops what earlier runs hold unchanged
// (incremental jobs), builds the archive (archive jobs), encrypts (protected jobs), stores every
// file, writes the summary to the log and records the outcome in job (enumStatus, lastOK) and,
// through options.saveOutcome, in the job store. The user steers it through the engine flags.
// name is the name the run was asked for (the "%d" of its outcome lines). The job must stay
// alive and unchanged by others until the run returns: the job runner gives each run a copy.
RunSummary BackupJob(AppContext& ctx, clsBackup& job, const std::string& name,
                     const RunOptions& options = {});

// Shows a step of the run in the status bar and lets the window catch up.
void SetStatusText(RunControl& rc, const std::string& text);

}  // namespace kestrel
