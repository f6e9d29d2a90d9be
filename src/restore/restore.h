// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "ftp/ftp_client.h"
#include "jobs/backup.h"
#include "platform/scratch_dir.h"
#include "restore/restore_tree.h"

namespace kestrel {

struct AppContext;

// One catalogue of a job: its own (JOB.fs) or one kept beside it (JOB.fs.kept-...) when a run
// could not use it, with the password that opens it and its volumes.
struct RestoreSource {
    std::string file;  // the catalogue's file name at the destination
    std::string password;
    // The checksum file of the catalogue; without one, files are checked by their crc only.
    SumsFile sums;
    // The facts file (modes, owners, folders, links); without one, files get the mode their
    // attribute bits give and folders and links are not known.
    MetaFile meta;
};

// A folder or a symbolic link of a session, as its source's facts file records it.
struct RestoreFolder {
    DateTime session;
    std::string path;
    PosixFacts facts;
};
struct RestoreLink {
    DateTime session;
    std::string path;
    std::string target;
    PosixFacts facts;
};

// What the restore browser works on: the selected job, its catalogue records and their tree.
// Replaced by every LoadCatalogue. It holds copies of what it needs, so that the job may change
// or go while the browser is open.
struct RestoreState {
    std::unique_ptr<clsBackup> job;           // a copy of the selected job; null when none
    std::vector<clsRestoreFileData> records;  // each names its source
    std::vector<RestoreSource> sources;       // kept catalogues first, oldest first
    std::vector<RestoreFolder> folders;       // the tree's nodes name them by index
    std::vector<RestoreLink> links;
    RestoreTree tree;
    // Set by a front end that needs only some files (a restore or a listing of given paths):
    // the records of other files are read but not kept, so a large catalogue is never held
    // whole. Unset: every record is kept.
    std::function<bool(const std::string& fname)> keepRecord;
    // Of every record read, kept or not: how many, and the newest session.
    size_t recordsRead = 0;
    DateTime newest;
    size_t skippedLines = 0;
    std::vector<size_t> skippedLineNumbers;  // damaged catalogue lines, numbered from 1
    // Asked for the password of a catalogue that the job's password does not open (one kept
    // from before a password change); nothing = leave that catalogue out. Set by the front end.
    std::function<std::optional<std::string>(const std::string& catalogue)> askPassword;
    // Catalogues that could not be opened and were left out, by file name.
    std::vector<std::string> lockedSources;
    // Files the checksum files know that their catalogues lost (names where known), and how
    // many: they cannot be restored.
    std::vector<std::string> lostFiles;
    size_t lost = 0;
    // The FTP session of a job with an FTP destination, opened by the caller.
    std::unique_ptr<FtpClient> ftp;
    // The restore's own working folder (the catalogue, fetched volumes), made by LoadCatalogue
    // below the temporary folder and removed with the state, so that a restore never touches
    // the files of a backup running beside it.
    std::optional<ScratchDir> work;
};

// Brings the job's catalogue into a working folder of the state's own (decrypting it for
// protected jobs), reads it and builds the tree. True when the browser may be shown. Damaged
// catalogue lines are skipped, logged by number, and the user is told how many.
[[nodiscard]] bool LoadCatalogue(AppContext& ctx, const clsBackup& job, RestoreState& state);

struct RestoreOptions {
    // Restore to the original paths, or below this folder (which then gets the original folder
    // structure).
    bool toOriginal = true;
    std::string folder;
    // Replace existing files without asking.
    bool overwrite = false;
};

struct RestoreSummary {
    std::int64_t restored = 0;  // files and links
    std::int64_t failed = 0;
    std::int64_t skipped = 0;  // existing files the user chose to keep
    std::int64_t weak = 0;     // restored files checked by their crc alone
    bool aborted = false;
};

// The nodes of the links and empty folders of the state below the given paths ("/" for all): per
// path, of the given session, or without one of the newest session that holds it.
std::vector<int> extrasToRestore(const RestoreState& state, const std::vector<std::string>& paths,
                                 const std::optional<DateTime>& session);

// Restores every checked file and link of the tree from the job's volumes, with its mode, owner
// (where allowed) and times; folders the restore makes get their recorded mode. Links are made
// as links, never written through. A target is written beside its final name and renamed into place
// only when every byte was read and the checksum matched, so a failed restore never harms an
// existing file.
RestoreSummary RestoreSelectedFiles(AppContext& ctx, RestoreState& state,
                                    const RestoreOptions& options);

// Where a file of the catalogue is restored; nothing when its path would leave the chosen
// folder ("..", or not absolute for an original-path restore).
std::optional<std::string> restoreTarget(const std::string& fname, const RestoreOptions& options);

}  // namespace kestrel
