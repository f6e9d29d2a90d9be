#pragma once

#include <cstdint>
#include <string>

#include "engine/ftp_client.h"

namespace kestrel {

struct AppContext;

struct RunOptions {
    // Makes the FTP session for jobs with an FTP destination; none = FTP is not available.
    FtpClientFactory ftp;
};

// What a run did; the job's enumStatus and lastOK and the log tell the same.
struct RunSummary {
    bool started = false;  // false: another run was active, or no job has that name
    std::int64_t stored = 0;
    std::int64_t notStored = 0;  // includes sources that could not be read
    std::int64_t total = 0;      // files in the working list at the end
    std::int32_t status = 0;     // the job's enumStatus afterwards
    bool mediaFull = false;
};

// One backup of the job with that name: lists and filters the sources, drops what earlier runs
// hold unchanged (incremental jobs), builds the archive (archive jobs), encrypts (protected
// jobs), stores every file, writes the summary to the log and records the outcome in the job
// and the job store. The user steers it through the engine flags.
RunSummary RunBackup(AppContext& ctx, const std::string& name, const RunOptions& options = {});

// Shows a step of the run in the status bar and lets the window catch up.
void SetStatusText(AppContext& ctx, const std::string& text);

}  // namespace kestrel
