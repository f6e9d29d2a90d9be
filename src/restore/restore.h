#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "engine/ftp_client.h"
#include "restore/restore_tree.h"

namespace kestrel {

struct AppContext;
class clsBackup;

// What the restore browser works on: the selected job, its catalogue records and their tree.
// Replaced by every LoadCatalogue.
struct RestoreState {
    const clsBackup* job = nullptr;
    std::vector<clsRestoreFileData> records;
    RestoreTree tree;
    size_t skippedLines = 0;
    // The FTP session of a job with an FTP destination, opened by the caller.
    std::unique_ptr<FtpClient> ftp;
};

// Brings the job's catalogue into the temporary folder (decrypting it for protected jobs),
// reads it and builds the tree. True when the browser may be shown; true with nothing loaded
// when no job has that name. Damaged catalogue lines are skipped, logged by number, and the
// user is told how many.
bool LoadCatalogue(AppContext& ctx, const std::string& name, RestoreState& state);

struct RestoreOptions {
    // Restore to the original paths, or below this folder (which then gets the original folder
    // structure).
    bool toOriginal = true;
    std::string folder;
    // Replace existing files without asking.
    bool overwrite = false;
};

struct RestoreSummary {
    std::int64_t restored = 0;
    std::int64_t failed = 0;
    std::int64_t skipped = 0;  // existing files the user chose to keep
    bool aborted = false;
};

// Restores every checked file of the tree from the job's volumes, with its attributes and
// times. A target is written beside its final name and renamed into place only when every
// byte was read and the checksum matched, so a failed restore never harms an existing file.
RestoreSummary RestoreSelectedFiles(AppContext& ctx, RestoreState& state,
                                    const RestoreOptions& options);

// Where a file of the catalogue is restored; nothing when its path would leave the chosen
// folder ("..", or not absolute for an original-path restore).
std::optional<std::string> restoreTarget(const std::string& fname, const RestoreOptions& options);

}  // namespace kestrel
