// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backup_run.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <unordered_map>
#include <unordered_set>

#include "archive/catalogue.h"
#include "archive/format.h"
#include "archive/meta.h"
#include "core/app_context.h"
#include "engine/archive_build.h"
#include "engine/catalogue_fetch.h"
#include "engine/destination.h"
#include "engine/encryption.h"
#include "engine/enumeration.h"
#include "engine/remote_set.h"
#include "engine/set_switch.h"
#include "engine/transfer.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr const char* kDateTimeText = "yyyy-MM-dd HH:mm:ss";

// Why a run went to its error end.
enum class RunError { None, DiskFull, Other };

// A volume's base name: without its number (-001 and on), which split volumes add.
std::string volumeBase(std::string_view volume) {
    const size_t dash = volume.rfind('-');
    if (dash != std::string_view::npos && volume.size() - dash >= 4 &&
        volume.find_first_not_of("0123456789", dash + 1) == std::string_view::npos) {
        volume = volume.substr(0, dash);
    }
    return std::string(volume);
}

class Run {
public:
    // The run reads of the program folder only where it lives, its temporary folder and the
    // encryption tool.
    Run(RunControl& rc, const ProgramFolder& folder, clsBackup& job, const std::string& name,
        const RunOptions& options)
        : m_rc(rc),
          m_home(folder.home()),
          m_cryptTool(encryptionTool(folder)),
          m_job(job),
          m_name(name),
          m_options(options),
          m_temp(options.tempDir.empty() ? folder.tempDir() : options.tempDir) {}

    RunSummary execute();

private:
    const std::string& msg(std::string_view key) { return m_rc.msg(key); }
    std::string failedText() {
        return m_rc.messages.format("strMsgBackupFailed", {{"%d", m_name}});
    }
    bool connectFtp();
    bool prepareRemote();
    bool selectIncremental();
    void dropNameClashes();
    void skipUnchangedCopies();
    std::int64_t skipUnchangedLocal(std::vector<bool>& skip);
    std::int64_t skipUnchangedUploads(std::vector<bool>& skip);
    void keepUnusable(const std::string& why);
    void transfer();
    RunSummary summary();
    RunSummary errorEnd(RunError error);
    StoreResult storeOne(const clsDskFile& file);
    StoreResult stageBuilt(const clsDskFile& file);
    void switchSet();
    void switchRemoteSet();
    void noteKept();
    // A file of the job's destination, as the log names it.
    std::string atDestination(const std::string& name) const {
        return m_job.destFTP ? remoteJoin(m_job.sDestinationDir, name)
                             : fs::join(m_job.sDestinationDir, name);
    }
    // The checksum file travels with the catalogue but is not one of the files the summary
    // counts; its failure still fails the run.
    bool isSidecar(const clsDskFile& f) const {
        return m_job.archived &&
               (text::endsWith(f.filename, kSumsSuffix) || text::endsWith(f.filename, kMetaSuffix));
    }
    std::int64_t countedFiles() const {
        return static_cast<std::int64_t>(std::count_if(
            m_list.begin(), m_list.end(), [&](const clsDskFile& f) { return !isSidecar(f); }));
    }
    void discardStaged();
    void cleanWorkFolder();
    bool saveOutcome();

    RunControl& m_rc;
    std::string m_home;
    std::string m_cryptTool;
    clsBackup& m_job;
    std::string m_name;
    const RunOptions& m_options;
    std::string m_temp;
    WorkingList m_list;
    ListingProblems m_problems;
    std::unique_ptr<FtpClient> m_ftp;
    std::int64_t m_stored = 0;
    std::int64_t m_notStored = 0;
    // The previous catalogue is there but cannot be used: this run begins a new one and the
    // old one is kept under m_keptName, never overwritten.
    bool m_newChain = false;
    std::string m_keptName;
    bool m_kept = false;
    EarlierSessions m_earlier;
    // An archive set on an FTP server: uploaded under staged names and switched at the end;
    // what the remote folder held when the run began.
    bool m_remoteSet = false;
    bool m_sidecarFailed = false;
    // An archive keeps folders and links in its facts file; plain copies follow links.
    TreeFacts m_tree;
    TreeFacts* tree() { return m_job.archived ? &m_tree : nullptr; }
    // The facts of the earlier sessions an incremental run extends.
    std::optional<Meta> m_previousMeta;
    std::optional<RemoteListing> m_remote;
    bool m_diskFull = false;
    std::string m_fullFolder;  // the folder whose disk was full
    bool m_outcomeSaved = true;
    // An archive set at a local destination is staged beside the old one and switched at the
    // end; the names staged so far.
    bool m_staging = false;
    std::vector<std::string> m_staged;
    // The archive is built in the destination's build folder (m_temp then names it), so staging
    // a file is a rename.
    bool m_buildInDestination = false;
    // Plain copies: the names this run copies into each destination folder, and the folders
    // already rid of copies a killed run left.
    std::unordered_map<std::string, std::unordered_set<std::string>> m_namesByFolder;
    std::unordered_set<std::string> m_cleanedFolders;
    ReadyFolders m_readyFolders;
    void removeCopyLeftovers(const std::string& folder);
};

bool Run::saveOutcome() {
    if (m_options.saveOutcome && !m_options.saveOutcome(m_job)) {
        m_outcomeSaved = false;
    }
    return m_outcomeSaved;
}

bool Run::connectFtp() {
    if (!m_ftp && m_options.ftp) {
        m_ftp = m_options.ftp(m_rc);
    }
    if (!m_ftp || !m_job.objDestination) {
        m_rc.WriteLog(msg("strMsgCantConnectToFTP"));
        return false;
    }
    return connectSession(*m_ftp, *m_job.objDestination);
}

// Lists the remote folder of an FTP archive set once and puts right what a cut run left there.
bool Run::prepareRemote() {
    if (!m_remoteSet || m_remote) {
        return true;
    }
    m_remote = listRemoteFolder(m_rc, *m_ftp, m_job);
    if (!m_remote) {
        return false;
    }
    if (!RecoverRemoteSet(m_rc, *m_ftp, m_job, *m_remote, m_temp, true)) {
        m_remote.reset();
        return false;
    }
    return true;
}

// The previous catalogue is there but cannot be read or fetched: appending this session to it
// would lose the session, and a full set under its name would lose every earlier one. This run
// starts a new catalogue with volumes named apart from every volume there, and the old one is
// kept beside it.
void Run::keepUnusable(const std::string& why) {
    m_newChain = true;
    std::vector<std::string> names;
    if (m_remote) {
        for (const auto& [name, size] : *m_remote) {
            names.push_back(name);
        }
    } else if (auto entries = fs::listDir(m_job.sDestinationDir)) {
        names = std::move(*entries);
    }
    const std::string prefix = m_job.sName;
    for (const std::string& name : names) {
        if (text::startsWith(name, prefix) && text::endsWith(name, kVolumeExtension)) {
            m_earlier.volumeNames.insert(volumeBase(
                std::string_view(name).substr(0, name.size() - kVolumeExtension.size())));
        }
    }
    const DateTime now = m_rc.clock.now();
    m_keptName = keptCatalogueName(m_job.sName, now);
    for (char letter = 'a';
         std::find(names.begin(), names.end(), m_keptName) != names.end() && letter <= 'z';
         ++letter) {
        m_keptName = keptCatalogueName(m_job.sName, now) + letter;
    }
    m_rc.WriteLog(m_rc.messages.format(
        "strMsgCatalogueUnusable",
        {{"%d", m_job.sName + std::string(kCatalogueExtension)}, {"%s", why}, {"%k", m_keptName}}));
}

// An incremental run's selection: fetches the previous catalogue and drops the files it holds
// unchanged. False when the run must go to its summary (the FTP server could not be reached, a
// catalogue that is there could not be fetched whole, or it must not be appended to).
bool Run::selectIncremental() {
    if (m_job.destFTP && !connectFtp()) {
        m_rc.WriteLog(msg("strMsgCantDLFileForInc"));
        return false;
    }
    if (m_job.destFTP && !prepareRemote()) {
        m_rc.WriteLog(msg("strMsgCantDLFileForInc"));
        return false;
    }
    // The records are taken as the catalogue is read: the files they hold unchanged are marked
    // now and dropped only once the catalogue proved usable.
    UnchangedFiles unchanged(m_list);
    EarlierSessions earlier;
    CatalogueFetch fetched = FetchCatalogue(
        m_rc, m_cryptTool, m_job, m_ftp.get(), m_temp, m_remote ? &*m_remote : nullptr, "", {},
        [&](const clsRestoreFileData& rec) {
            for (const std::string* volume : {&rec.arcStart, &rec.arcEnd}) {
                earlier.volumeNames.insert(volumeBase(*volume));
            }
            earlier.stamps.insert(rec.dSession.serialSeconds());
            unchanged.match(rec.fname, rec.lastWriteTime);
            return false;
        },
        false);
    using Status = CatalogueFetch::Status;
    switch (fetched.status) {
        case Status::Missing:
            return true;
        case Status::FetchFailed:
            if (!m_job.destFTP || m_remote) {
                // The catalogue is there but could not be had whole (logged): it may come
                // next time, and a run without it would lose its earlier sessions.
                m_rc.WriteLog(msg("strMsgCantDLFileForInc"));
                return false;
            }
            return true;
        case Status::Refused:
        case Status::DecryptFailed:
        case Status::Unreadable:
            keepUnusable(fetched.error);
            return true;
        case Status::Read:
            break;
    }
    // A last line without its line end is a catalogue cut short: the next line written would
    // be glued to it and neither could be restored.
    if (fetched.cutShort) {
        m_rc.WriteLog(m_rc.messages.format(
            "strMsgCatalogueCut", {{"%d", atDestination(fs::fileNameOf(fetched.localPath))}}));
        return false;
    }
    if (fetched.verdict.lost > fetched.catalogue->skippedLines.size()) {
        // Lines the checksum file knows of went missing (a catalogue cut at a line end): a
        // session appended now would make the loss look intended.
        m_rc.WriteLog(m_rc.messages.format(
            "strMsgCatalogueLinesLost", {{"%d", atDestination(fs::fileNameOf(fetched.localPath))},
                                         {"%i", std::to_string(fetched.verdict.lost)},
                                         {"%s", lostFilesText(fetched.verdict)}}));
        return false;
    }
    if (fetched.sumsForeign) {
        // A new one, beside this catalogue, covers this session on.
        fs::removeLeftover(fetched.localPath + std::string(kSumsSuffix));
    }
    if (fetched.metaCopyFailed) {
        // A new facts file would hold this session alone: the earlier ones would lose theirs.
        m_rc.WriteLog(m_rc.messages.format("strMsgDownloadFailed",
                                           {{"%d", atDestination(fs::fileNameOf(fetched.localPath) +
                                                                 std::string(kMetaSuffix))}}) +
                      " (" + fetched.meta.error + ")");
        m_rc.WriteLog(msg("strMsgCantDLFileForInc"));
        return false;
    }
    if (fetched.meta.meta) {
        m_previousMeta = std::move(fetched.meta.meta);
    }
    if (fetched.meta.status == MetaFile::Status::Damaged) {
        // Appending to it would keep it unreadable: a new one holds this session on.
        m_rc.WriteLog(m_rc.messages.format(
            "strMsgMetaDamaged",
            {{"%d", fs::fileNameOf(fetched.localPath) + std::string(kMetaSuffix)},
             {"%s", fetched.meta.error}}));
        fs::removeLeftover(fetched.localPath + std::string(kMetaSuffix));
    }
    if (fetched.sumsCopyFailed) {
        // Starting a new checksum file would leave the earlier sessions with the weak check.
        m_rc.WriteLog(m_rc.messages.format("strMsgDownloadFailed",
                                           {{"%d", fs::join(m_job.sDestinationDir,
                                                            fs::fileNameOf(fetched.localPath) +
                                                                std::string(kSumsSuffix))}}) +
                      " (" + fetched.sums.error + ")");
        m_rc.WriteLog(msg("strMsgCantDLFileForInc"));
        return false;
    }
    if (fetched.sums.status == SumsFile::Status::Damaged) {
        // Appending to it would keep it unreadable: a new one covers this session on.
        m_rc.WriteLog(m_rc.messages.format(
            "strMsgSumsDamaged",
            {{"%d", fetched.localPath + std::string(kSumsSuffix)}, {"%s", fetched.sums.error}}));
        fs::removeLeftover(fetched.localPath + std::string(kSumsSuffix));
    }
    m_earlier.volumeNames.merge(earlier.volumeNames);
    m_earlier.stamps.merge(earlier.stamps);
    unchanged.dropFrom(m_list);
    return true;
}

// Whether a plain copy at the destination is the one the file would be copied to now: the same
// size, the same last-write time to the nanosecond and the owner bits a copy is given. A copy
// whose file system keeps coarser times than the source (seconds) never matches and is copied
// again.
bool unchangedCopy(const clsDskFile& file, const fs::EntryFacts& copy) {
    const PosixTime written{copy.mtimeSeconds, copy.mtimeNanoseconds};
    return copy.size == file.dSize && toFileTime(written) == file.lastWriteTime &&
           copy.mtimeNanoseconds % 100 == file.lastWriteNs &&
           (!file.hasPosix || copy.mode == (file.posixMode & 0700));
}

// Plain copies to an FTP server all go into the destination folder by their name, so two files
// of one name in different folders would overwrite each other there, one of them lost without a
// word. The first in the list keeps the name; the others are not stored and say why.
void Run::dropNameClashes() {
    if (!m_job.destFTP || m_job.archived) {
        return;
    }
    std::unordered_set<std::string> names;
    std::vector<bool> drop(m_list.size(), false);
    std::int64_t dropped = 0;
    for (size_t i = 0; i < m_list.size(); ++i) {
        const clsDskFile& file = m_list[i];
        if (!file.filename.empty() && !names.insert(file.filename).second) {
            m_rc.WriteLog(m_rc.messages.format("strMsgUploadFail",
                                               {{"%d", fs::join(file.path, file.filename)}}) +
                          " (another file of the job has that name in " +
                          remoteJoin(m_job.sDestinationDir, file.filename) + ")");
            drop[i] = true;
            ++dropped;
        }
    }
    if (dropped > 0) {
        size_t i = 0;
        std::erase_if(m_list, [&](const clsDskFile&) { return drop[i++]; });
        m_notStored += dropped;
    }
}

// An incremental run of plain copies leaves out the files whose copy at the destination is
// unchanged: one pass over each destination folder, not a look per file. A protected job's copy
// is encrypted, with another size and the time of its encryption, so such jobs copy every file.
void Run::skipUnchangedCopies() {
    if (!m_job.bIncremental || m_job.archived || m_job.Protected) {
        return;
    }
    std::vector<bool> skip(m_list.size(), false);
    const std::int64_t skipped =
        m_job.destFTP ? skipUnchangedUploads(skip) : skipUnchangedLocal(skip);
    if (skipped == 0) {
        return;
    }
    size_t i = 0;
    std::erase_if(m_list, [&](const clsDskFile&) { return skip[i++]; });
    m_rc.WriteLog(m_rc.messages.format("strMsgCopiesUnchanged", {{"%d", std::to_string(skipped)}}));
}

std::int64_t Run::skipUnchangedLocal(std::vector<bool>& skip) {
    std::unordered_map<std::string, std::vector<size_t>> byFolder;
    for (size_t i = 0; i < m_list.size(); ++i) {
        if (!m_list[i].filename.empty()) {
            byFolder[destinationFolder(m_job, m_list[i])].push_back(i);
        }
    }
    std::int64_t skipped = 0;
    for (const auto& [folder, files] : byFolder) {
        m_rc.host.yield();
        std::unordered_set<std::string_view> names;
        for (const size_t i : files) {
            names.insert(m_list[i].filename);
        }
        const auto copies = fs::regularFilesIn(
            folder, [&](std::string_view name) { return names.count(name) != 0; });
        if (!copies) {
            continue;  // no folder yet: every file of it is copied
        }
        for (const size_t i : files) {
            const auto it = copies->find(m_list[i].filename);
            if (it != copies->end() && unchangedCopy(m_list[i], it->second)) {
                skip[i] = true;
                ++skipped;
            }
        }
    }
    return skipped;
}

// Every file goes into the one remote folder: one listing of it, taken only where the server
// tells sizes and times exactly (the time to the second, which the upload set). Two files of the
// same name would take turns there, so neither is left out.
std::int64_t Run::skipUnchangedUploads(std::vector<bool>& skip) {
    if (!m_ftp || m_ftp->connectionState() != FtpClient::State::LoggedIn) {
        return 0;
    }
    const auto listing = m_ftp->GetExactFileList(m_job.sDestinationDir);
    if (!listing) {
        return 0;
    }
    std::unordered_map<std::string_view, const FtpClient::ExactEntry*> remote;
    for (const FtpClient::ExactEntry& entry : *listing) {
        remote.emplace(entry.name, &entry);
    }
    std::unordered_map<std::string_view, int> uses;
    for (const clsDskFile& f : m_list) {
        ++uses[f.filename];
    }
    std::int64_t skipped = 0;
    for (size_t i = 0; i < m_list.size(); ++i) {
        const clsDskFile& f = m_list[i];
        const auto it = remote.find(f.filename);
        if (!f.filename.empty() && uses[f.filename] == 1 && it != remote.end() &&
            it->second->size == f.dSize &&
            it->second->modified == toPosixTime(f.lastWriteTime).seconds) {
            skip[i] = true;
            ++skipped;
        }
    }
    return skipped;
}

StoreResult Run::storeOne(const clsDskFile& file) {
    std::string source;  // an encrypted copy to store in the file's place
    if (m_job.Protected) {
        std::string error;
        std::string target = fs::join(file.path, file.filename);
        if (!m_job.archived) {
            // Never touch a source file: encrypt a copy of it.
            const std::string folder = fs::join(m_temp, kEncryptFolder);
            source = fs::join(folder, file.filename.empty() ? "missing" : file.filename);
            Status copied;
            if (!fs::makeOwnPrivateDir(folder, &error) || file.filename.empty() ||
                !fs::copyFile(target, source, &copied)) {
                tellError(copied, &error);
                m_rc.WriteLog(
                    m_rc.messages.format("strMsgEncryptFailed", {{"%d", target}, {"%s", error}}));
                return StoreResult::NotStored;
            }
            target = source;
        }
        if (!EncryptFile(m_rc, m_cryptTool, target, m_job.password, &error)) {
            m_rc.WriteLog(
                m_rc.messages.format("strMsgEncryptFailed", {{"%d", target}, {"%s", error}}));
            if (!source.empty()) {
                fs::removeLeftover(source);
            }
            return StoreResult::NotStored;
        }
    }
    StoreResult result = StoreResult::NotStored;
    // A plain copy can be given up by itself. A file of an archive set cannot: the set is put
    // in place whole or not at all, so skipping one would throw the session away (Abort does
    // that openly).
    const FileCancelScope cancellable(m_rc, !m_job.archived);
    if (m_job.destFTP) {
        result = m_ftp ? UploadFile(m_rc, *m_ftp, m_job, file, source, m_remoteSet)
                       : StoreResult::NotStored;
        if (m_remoteSet && result == StoreResult::Stored) {
            m_staged.push_back(file.filename);
        }
    } else if (m_buildInDestination) {
        result = stageBuilt(file);
    } else {
        Status why;
        if (!m_job.archived) {
            removeCopyLeftovers(destinationFolder(m_job, file));
        }
        result =
            CopyFileToDestination(m_rc, m_job, file, source, &why,
                                  m_staging ? kStagedSuffix : std::string_view(), &m_readyFolders);
        if (why.isDiskFull() && !m_diskFull) {
            m_fullFolder = destinationFolder(m_job, file);
        }
        m_diskFull = m_diskFull || why.isDiskFull();
        if (m_staging && result == StoreResult::Stored) {
            m_staged.push_back(file.filename);
        }
    }
    if (!source.empty()) {
        fs::removeLeftover(source);
    }
    return result;
}

// Stages a file the build wrote into the destination's build folder: a rename on the same file
// system, so nothing is copied.
StoreResult Run::stageBuilt(const clsDskFile& file) {
    const std::string built = fs::join(file.path, file.filename);
    const std::string destination = fs::join(m_job.sDestinationDir, file.filename);
    std::string error;
    if (file.filename.empty() ||
        !fs::renameFile(built, destination + std::string(kStagedSuffix), &error)) {
        m_rc.WriteLog(
            m_rc.messages.format("strMsgFileCopyFail", {{"%s", built}, {"%d", destination}}) +
            (error.empty() ? "" : " (" + error + ")"));
        return StoreResult::NotStored;
    }
    m_staged.push_back(file.filename);
    m_rc.WriteLog(m_rc.messages.format("strMsgFileCopyOk", {{"%s", built}, {"%d", destination}}));
    return StoreResult::Stored;
}

// Empties the folder the archive was built in; the build folder in the destination goes
// altogether.
void Run::cleanWorkFolder() {
    if (!m_job.archived) {
        // Emptied file by file as the copies were stored; once gone, a folder found at the next
        // start tells of a run that did not end.
        fs::removeLeftover(fs::join(m_temp, kEncryptFolder));
        return;
    }
    if (!m_buildInDestination) {
        if (!CleanTempFolder(m_rc, m_temp)) {
            // Logged; the next run empties the folder before it starts.
        }
        return;
    }
    std::string error;
    if (!fs::removeTree(m_temp, &error)) {
        // The next run removes what is left.
        m_rc.WriteLog(m_rc.msg("strMsgCantDeleteFilesFromTemp1") + m_temp +
                      m_rc.msg("strMsgCantDeleteFilesFromTemp2") + " (" + error + ")");
    }
}

// Removes NAME.part-XXXXXX files that a killed run left beside the files this run copies into
// the folder. Only stems of this run's own files count, and never a file this run copies, so a
// source file that happens to be named like a leftover is kept.
void Run::removeCopyLeftovers(const std::string& folder) {
    if (!m_cleanedFolders.insert(folder).second) {
        return;
    }
    if (m_namesByFolder.empty()) {
        for (const clsDskFile& f : m_list) {
            m_namesByFolder[destinationFolder(m_job, f)].insert(f.filename);
        }
    }
    const auto& names = m_namesByFolder[folder];
    auto entries = fs::listDir(folder);
    if (!entries) {
        return;
    }
    for (const std::string& entry : *entries) {
        std::string stem;
        const std::string path = fs::join(folder, entry);
        if (fs::isCopyLeftover(entry, &stem) && names.count(stem) != 0 && names.count(entry) == 0 &&
            fs::isRegularFile(path) && fs::removeFile(path)) {
            m_rc.WriteLog(m_rc.messages.format("strMsgLeftoverRemoved", {{"%d", path}}));
        }
    }
}

RunSummary Run::summary() {
    cleanWorkFolder();
    m_rc.closeProgress();
    const std::int64_t total = countedFiles();
    const bool succeeded = m_stored == total && total >= 1 && m_notStored == 0 && !m_sidecarFailed;
    const std::string stars(72, '*');
    m_rc.WriteLog(stars);
    m_rc.WriteLog("*   " + msg("strMsgFilesStored") + std::to_string(m_stored));
    m_rc.WriteLog("*   " + msg("strMsgFilesNotStored") + std::to_string(m_notStored));
    m_rc.WriteLog("*   " + msg("strMsgTotalFiles") + std::to_string(total));
    m_rc.WriteLog(stars);

    if (succeeded && m_kept) {
        // Complete and restorable, but the user must learn that the earlier sessions now lie
        // in the kept catalogue.
        m_job.enumStatus = kStatusFailed;
        m_rc.WriteLog(failedText());
    } else if (succeeded) {
        m_job.enumStatus = kStatusOk;
        m_rc.WriteLog(m_rc.messages.format("strMsgBakupFinishedOk", {{"%d", m_name}}));
        m_job.lastOK = m_rc.clock.now();
    } else if (total > 0 || m_notStored > 0) {
        // Sources that could not be read make the run incomplete, also with nothing listed.
        m_job.enumStatus = kStatusFailed;
        m_rc.WriteLog(failedText());
    } else {
        m_job.enumStatus = kStatusOk;
        m_rc.WriteLog(msg("strMsgNoFilesForBackup"));
    }
    m_list.clear();
    saveOutcome();
    m_rc.flags.bBackupRunning = false;
    if (m_job.enumStatus == kStatusOk) {
        const std::string done = m_rc.messages.format(
            "strMsgTermNormally",
            {{"%d", m_job.sName}, {"%t", m_rc.clock.now().format(kDateTimeText)}});
        SetStatusText(m_rc, done);
        // A run that found nothing to store ends normally but is no successful backup.
        if (succeeded) {
            m_job.lastOK = m_rc.clock.now();
        }
        if (m_rc.host.windowVisible()) {
            tell(m_rc.host, done, MsgIcon::Information);
        }
    } else {
        m_rc.WriteLog(failedText());
        if (m_rc.host.windowVisible()) {
            tellFailure(m_rc.host, failedText(), m_rc.failureDetails());
        }
    }
    return RunSummary{true, m_stored, m_notStored, total, m_job.enumStatus, false, m_outcomeSaved};
}

RunSummary Run::errorEnd(RunError error) {
    RunSummary result{true, m_stored, m_notStored, countedFiles(), 0, error == RunError::DiskFull};
    switch (error) {
        case RunError::None:
            m_job.enumStatus = kStatusAborted;
            SetStatusText(m_rc, msg("strMsgBackupAborted"));
            break;
        case RunError::DiskFull:
            if (!m_fullFolder.empty()) {
                m_rc.WriteLog(m_rc.messages.format("strMsgFolderFull", {{"%d", m_fullFolder}}));
            }
            m_rc.WriteLog(msg("strMsgBackupMediaFull"));
            tell(m_rc.host, msg("strMsgBackupMediaFull"), MsgIcon::Critical);
            break;
        case RunError::Other:
            m_rc.WriteLog(failedText());
            break;
    }
    m_rc.closeProgress();
    // Neither half-copied sets nor a partial archive are left behind.
    discardStaged();
    cleanWorkFolder();
    saveOutcome();
    m_rc.flags.bBackupRunning = false;
    m_list.clear();
    if (m_rc.host.windowVisible()) {
        tellFailure(m_rc.host, failedText(), m_rc.failureDetails());
    }
    result.status = m_job.enumStatus;
    result.outcomeSaved = m_outcomeSaved;
    return result;
}

void Run::discardStaged() {
    if (m_remoteSet) {
        if (m_ftp && m_ftp->connectionState() == FtpClient::State::LoggedIn) {
            DiscardRemoteStaged(m_rc, *m_ftp, m_job, m_staged);
        }
    } else {
        DiscardStaged(m_rc, m_job, m_staged);
    }
    m_staged.clear();
}

RunSummary Run::execute() {
    m_rc.clearFailures();
    m_remoteSet = m_job.archived && m_job.destFTP;
    // Before anything is written: a folder made on a disk that is not there would hold the
    // backup on the system disk instead.
    if (!localDestinationAvailable(m_rc, m_job)) {
        return errorEnd(RunError::Other);
    }
    m_staging = m_job.archived && !m_job.destFTP;
    if (m_staging) {
        RecoverSet(m_rc, m_job, true);
        // Built where it is stored, each volume is written once. Where the destination
        // refuses the folder, the build falls back to the temporary folder and a copy. The
        // build holds plaintext: no one else may even list it.
        const std::string build = buildFolderOf(m_job);
        if (fs::makeOwnPrivateDir(build)) {
            m_temp = build;
            m_buildInDestination = true;
        }
    }
    // The working list: every source walked, then the masks applied.
    SetStatusText(m_rc, msg("strMsgCreateListFiles"));
    m_rc.showProgress(msg("strMsgCreateListFiles"));
    const std::vector<LeftOutFolder> leaveOut = ownFolders(m_home, m_job);
    for (const auto& entry : m_job.Files) {
        if (m_rc.flags.stopping()) {
            return errorEnd(RunError::None);
        }
        if (entry->bForD == kSourceFolder) {
            SearchFiles(m_rc, entry->sPath, m_list, m_problems, leaveOut, tree());
            if (m_rc.flags.stopping()) {
                return errorEnd(RunError::None);
            }
        } else if (entry->bForD == kSourceFile) {
            MakeSingleFileEntry(m_rc, *entry, m_list, m_problems, tree());
        }
        if (m_rc.flags.bPauseBackup) {
            WaitWhilePaused(m_rc);
        }
    }
    m_notStored += m_problems.unreadable;
    ApplyMasks(m_rc, m_job.IncludeMask, m_job.ExcludeMask, m_list, tree());
    SetStatusText(m_rc, msg("strMsgListOkContBkp"));

    if (m_job.bIncremental && !selectIncremental()) {
        return summary();
    }
    dropNameClashes();
    skipUnchangedCopies();

    // The archive built (archive jobs) and the destination made ready.
    m_job.RunSize = 0;
    for (const clsDskFile& f : m_list) {
        m_job.RunSize += f.dSize;
    }
    if (m_job.archived) {
        const SessionFacts sessionFacts =
            m_tree.forSession(m_list, m_previousMeta ? &*m_previousMeta : nullptr);
        const BuildOutcome built =
            BuildArchive(m_rc, m_job, m_list, m_temp, m_newChain, m_earlier, &sessionFacts);
        if (built.result != StepResult::Done) {
            m_rc.closeProgress();
            if (built.diskFull) {
                m_fullFolder = m_buildInDestination ? m_job.sDestinationDir : m_temp;
            }
            // A write that failed is a failed run, not one the user stopped.
            return errorEnd(built.diskFull      ? RunError::DiskFull
                            : built.writeFailed ? RunError::Other
                                                : RunError::None);
        }
        m_notStored += built.notAdded;
    }
    m_rc.closeProgress();
    m_rc.showProgress("");
    m_rc.updateProgress(msg("strMsgCopyToDest"), "", 0, 0);
    if (m_list.empty()) {
        m_rc.WriteLog(msg("strMsgNoFilesForBackup"));
        return summary();
    }
    if (m_job.destFTP && (!m_ftp || m_ftp->connectionState() == FtpClient::State::NotConnected)) {
        if (!connectFtp()) {
            m_rc.WriteLog(msg("strMsgFailUploadFiles"));
            return summary();
        }
    }
    if (m_job.destFTP && !prepareRemote()) {
        m_rc.WriteLog(msg("strMsgFailUploadFiles"));
        return summary();
    }

    // Every file of the working list stored at the destination.
    m_rc.flags.bAbortBackup = false;
    std::int64_t total = 0;
    for (const clsDskFile& f : m_list) {
        total += f.dSize;
    }
    std::int64_t done = 0;
    for (const clsDskFile& file : m_list) {
        done += file.dSize;
        m_rc.host.yield();
        if (m_rc.flags.bPauseBackup) {
            WaitWhilePaused(m_rc);
        }
        if (m_rc.flags.stopping()) {
            m_rc.closeProgress();
            return errorEnd(RunError::None);
        }
        const bool stored = storeOne(file) == StoreResult::Stored;
        if (isSidecar(file)) {
            m_sidecarFailed = m_sidecarFailed || !stored;
        } else if (stored) {
            ++m_stored;
        } else {
            ++m_notStored;
        }
        if (m_diskFull) {
            return errorEnd(RunError::DiskFull);
        }
        m_rc.updateProgress(msg("strMsgBackupProgress"), file.path + file.filename, 100,
                            100.0 * static_cast<double>(done) / (static_cast<double>(total) + 1.0));
        m_rc.host.yield();
    }
    if (m_staging) {
        switchSet();
    } else if (m_remoteSet) {
        switchRemoteSet();
    }
    m_job.enumStatus = kStatusOk;
    return summary();
}

// Puts the staged set in place when every file of it was staged; otherwise the old set stays
// and nothing of this session counts as stored.
void Run::switchSet() {
    std::string error;
    const bool complete = m_stored == countedFiles() && !m_sidecarFailed;
    if (complete && m_newChain && !keepCatalogue(m_job, m_keptName, &error)) {
        DiscardStaged(m_rc, m_job, m_staged);
        m_rc.WriteLog(
            m_rc.messages.format("strMsgSetSwitchFailed", {{"%d", m_job.sName}, {"%s", error}}));
        m_notStored += m_stored;
        m_stored = 0;
        return;
    }
    if (complete && SwitchSet(m_rc, m_job, m_staged, !m_job.bIncremental, &error)) {
        noteKept();
        return;
    }
    if (!complete) {
        DiscardStaged(m_rc, m_job, m_staged);
        error = std::to_string(countedFiles() - m_stored + (m_sidecarFailed ? 1 : 0)) + " of " +
                std::to_string(m_list.size()) + " files could not be copied";
    }
    m_rc.WriteLog(
        m_rc.messages.format("strMsgSetSwitchFailed", {{"%d", m_job.sName}, {"%s", error}}));
    m_notStored += m_stored;
    m_stored = 0;
}

// Every file uploaded under its staged name: the set is switched; otherwise the old set stays
// and nothing of this session counts as stored.
void Run::switchRemoteSet() {
    std::string error;
    const bool complete = m_stored == countedFiles() && !m_sidecarFailed;
    if (complete && m_ftp && m_remote &&
        SwitchRemoteSet(m_rc, *m_ftp, m_job, m_staged, !m_job.bIncremental, *m_remote, m_temp,
                        m_newChain ? m_keptName : std::string(), &error)) {
        noteKept();
        return;
    }
    if (!complete) {
        discardStaged();
        error = std::to_string(countedFiles() - m_stored + (m_sidecarFailed ? 1 : 0)) + " of " +
                std::to_string(m_list.size()) + " files could not be uploaded";
    }
    m_rc.WriteLog(
        m_rc.messages.format("strMsgSetSwitchFailed", {{"%d", m_job.sName}, {"%s", error}}));
    m_notStored += m_stored;
    m_stored = 0;
}

void Run::noteKept() {
    if (!m_newChain) {
        return;
    }
    m_kept = true;
    const std::string where = atDestination(m_keptName);
    m_rc.WriteLog(
        m_rc.messages.format("strMsgCatalogueKept", {{"%d", m_job.sName}, {"%k", where}}));
}

}  // namespace

void SetStatusText(RunControl& rc, const std::string& text) {
    rc.host.setStatusText(1, text);
    rc.host.yield();
}

RunSummary BackupJob(AppContext& ctx, clsBackup& job, const std::string& name,
                     const RunOptions& options) {
    if (ctx.flags.bBackupRunning) {
        ctx.WriteLog(ctx.msg("strMsgBackupPending"));
        return {};
    }
    if (job.passwordUnreadable) {
        // The runner refuses such a job; whoever else calls, its files are never stored
        // without the encryption they were meant to have.
        ctx.WriteLog(ctx.messages.format("strMsgJobLocked", {{"%d", name}}));
        return {};
    }
    ctx.flags.bCancelFile = false;
    ctx.flags.bAbortBackup = false;
    ctx.flags.bPauseBackup = false;
    ctx.WriteLog(ctx.msg("strMsgBackupStartedAt") + ctx.clock.now().format(kDateTimeText));
    ctx.flags.bBackupRunning = true;
    ctx.WriteLog(ctx.messages.format("strMsgBackupOf", {{"%d", job.sName}}));
    job.enumStatus = kStatusFailed;

    Run run(ctx.control, ctx.paths, job, name, options);
    try {
        RunSummary summary = run.execute();
        ctx.log.flush();
        return summary;
    } catch (const std::exception& e) {
        ctx.WriteLog(std::string("ERROR: ") + e.what());
        ctx.flags.bBackupRunning = false;
        ctx.control.closeProgress();
        const bool saved = !options.saveOutcome || options.saveOutcome(job);
        ctx.WriteLog(ctx.messages.format("strMsgBackupFailed", {{"%d", name}}));
        return RunSummary{true, 0, 0, 0, job.enumStatus, false, saved};
    }
}

}  // namespace kestrel
