// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_set>

#include "archive/format.h"
#include "archive/volume_reader.h"
#include "core/app_context.h"
#include "engine/catalogue_fetch.h"
#include "engine/destination.h"
#include "engine/encryption.h"
#include "engine/remote_set.h"
#include "engine/set_switch.h"
#include "platform/file_facts.h"
#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/safe_dir.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Finds the volumes of a job for the restore: read in place from a local destination, or
// brought into the temporary folder (downloaded, decrypted) once per run.
class RestoreVolumes : public VolumeSource {
public:
    RestoreVolumes(RunControl& rc, std::string cryptTool, const clsBackup& job, FtpClient* ftp,
                   std::string folder)
        : m_rc(rc),
          m_cryptTool(std::move(cryptTool)),
          m_job(job),
          m_ftp(ftp),
          m_folder(std::move(folder)),
          m_password(job.password) {}

    // The volumes of a kept catalogue are encrypted with the password of their time.
    void usePassword(const std::string& password) { m_password = password; }

    std::optional<std::string> volumePath(const std::string& baseName) override {
        const std::string file = baseName + std::string(kVolumeExtension);
        if (!m_job.destFTP && !m_job.Protected) {
            // Looked at once: thousands of small files come from one volume.
            std::string path = fs::join(m_job.sDestinationDir, file);
            if (m_fetched.count(path) == 0) {
                if (!fs::isRegularFile(path)) {
                    return std::nullopt;
                }
                m_fetched.insert(path);
            }
            return path;
        }
        const std::string temp = fs::join(m_folder, file);
        if (m_fetched.count(temp) != 0) {
            return temp;
        }
        if (m_failed.count(temp) != 0) {
            return std::nullopt;
        }
        std::string error;
        bool fetched = false;
        if (m_job.destFTP) {
            fetched = m_ftp != nullptr && m_ftp->GetFile(remoteJoin(m_job.sDestinationDir, file),
                                                         temp) == FtpClient::GetResult::Downloaded;
        } else {
            Status copied;
            fetched = fs::copyFile(fs::join(m_job.sDestinationDir, file), temp, &copied);
            tellError(copied, &error);
        }
        if (fetched && m_job.Protected &&
            !DecryptFile(m_rc, m_cryptTool, temp, m_password, &error)) {
            m_rc.WriteLog(
                m_rc.messages.format("strMsgRestoreDecryptFailed", {{"%d", temp}, {"%s", error}}));
            fetched = false;
        }
        if (!fetched) {
            m_failed.insert(temp);
            return std::nullopt;
        }
        m_fetched.insert(temp);
        return temp;
    }

private:
    RunControl& m_rc;
    std::string m_cryptTool;
    const clsBackup& m_job;
    FtpClient* m_ftp;
    std::string m_folder;
    std::string m_password;
    std::unordered_set<std::string> m_fetched;
    std::unordered_set<std::string> m_failed;
};

bool allZero(std::string_view data) {
    static const char kZeros[4096] = {};
    while (!data.empty()) {
        const size_t n = std::min(data.size(), sizeof kZeros);
        if (std::memcmp(data.data(), kZeros, n) != 0) {
            return false;
        }
        data.remove_prefix(n);
    }
    return true;
}

// Writes a file's bytes in few large writes; blocks of zeros are left as holes, so a sparse
// file comes back sparse.
class HoleWriter {
public:
    explicit HoleWriter(FileHandle& out) : m_out(out) {}

    bool add(std::string_view data) {
        const auto n = static_cast<std::int64_t>(data.size());
        if (allZero(data)) {
            if (!flush()) {
                return false;
            }
            m_size += n;
            return true;
        }
        if (m_run.empty()) {
            m_runStart = m_size;
        }
        m_run.append(data);
        m_size += n;
        return m_run.size() < kRunBytes || flush();
    }
    // Writes what is held and gives a file that ends in a hole its length.
    bool finish() { return flush() && (m_dataEnd == m_size || m_out.truncate(m_size)); }
    std::int64_t size() const { return m_size; }

private:
    static constexpr size_t kRunBytes = 1 << 20;

    bool flush() {
        if (m_run.empty()) {
            return true;
        }
        const auto n = static_cast<std::int64_t>(m_run.size());
        if (m_out.writeAt(m_run.data(), n, m_runStart) != n) {
            return false;
        }
        m_dataEnd = m_runStart + n;
        m_run.clear();
        return true;
    }

    FileHandle& m_out;
    std::string m_run;
    std::int64_t m_runStart = 0;
    std::int64_t m_size = 0;
    std::int64_t m_dataEnd = 0;
};

// The owner and group to give a restored entry: only a restore run by root may give files to
// others; anyone else's files are theirs already. -1 leaves it as it is.
std::pair<std::int64_t, std::int64_t> ownerFor(const PosixFacts& facts) {
    // Asked once: a restore asks for every file.
    static const bool may = mayChangeOwners();
    if (may) {
        return {facts.uid, facts.gid};
    }
    static_cast<void>(facts);
    return {-1, -1};
}

// The folder below root that holds path (relative, "/" stripped), opened without following
// links planted there, and the entry's name in it.
struct EntryPlace {
    std::optional<SafeDir> dir;
    std::string name;
};
EntryPlace openPlace(const std::string& fname, const RestoreOptions& options, bool create,
                     std::string* error) {
    EntryPlace place;
    std::string_view relative = fname;
    while (!relative.empty() && relative.front() == '/') {
        relative.remove_prefix(1);
    }
    place.name = fs::fileNameOf(relative);
    const std::string root = options.toOriginal ? "/" : options.folder;
    if (options.toOriginal || fs::makeDirs(root, error)) {
        place.dir = SafeDir::open(
            root, fs::parentOf(relative), create,
            options.toOriginal ? SafeDir::LinkPolicy::OwnedByRootOrMe : SafeDir::LinkPolicy::Never,
            error);
    }
    return place;
}

bool hasDotDot(std::string_view path) {
    for (const std::string& part : text::split(path, '/')) {
        if (part == "..") {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> restoreTarget(const std::string& fname, const RestoreOptions& options) {
    if (fname.empty() || hasDotDot(fname) || fname.find('\0') != std::string::npos ||
        fname.back() == '/') {
        return std::nullopt;
    }
    if (options.toOriginal) {
        if (fname.front() != '/') {
            return std::nullopt;
        }
        return fname;
    }
    // The original folder structure is rebuilt below the chosen folder; the path is joined as
    // relative, so an absolute path cannot lead out of it.
    std::string_view relative = fname;
    while (!relative.empty() && relative.front() == '/') {
        relative.remove_prefix(1);
    }
    if (relative.empty()) {
        return std::nullopt;
    }
    return fs::join(options.folder, relative);
}

namespace {

// The catalogues of a job: its own and those kept beside it, kept ones first, oldest first.
std::vector<std::string> catalogueFiles(const clsBackup& job,
                                        const std::vector<std::string>& names) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        if (isKeptCatalogueOf(job.sName, name)) {
            files.push_back(name);
        }
    }
    std::sort(files.begin(), files.end());
    files.push_back(job.sName + std::string(kCatalogueExtension));
    return files;
}

}  // namespace

bool LoadCatalogue(AppContext& ctx, const clsBackup& job, RestoreState& state) {
    // An abort meant for a run that has ended would stop the downloads at once.
    ctx.flags.bAbortBackup = false;
    state.job = job.clone();
    state.records.clear();
    state.sources.clear();
    state.lockedSources.clear();
    state.lostFiles.clear();
    state.lost = 0;
    state.tree.clear();
    state.skippedLines = 0;
    state.skippedLineNumbers.clear();
    state.recordsRead = 0;
    state.newest = {};
    state.folders.clear();
    state.links.clear();
    std::string error;
    if (!state.work) {
        if (!fs::makeDirs(ctx.paths.tempDir(), &error) ||
            !(state.work = ScratchDir::create(ctx.paths.tempDir(), &error))) {
            ctx.WriteLog(ctx.messages.format("strMsgCantCreateWorkFolder",
                                             {{"%d", ctx.paths.tempDir()}, {"%s", error}}));
            return false;
        }
    }
    if (job.destFTP && ask(ctx.host, ctx.msg("strMsgNotStoredLocally"), MsgIcon::Question,
                           MsgButtons::YesNo, MsgAnswer::Yes) != MsgAnswer::Yes) {
        return false;
    }
    // A disk that is not there is named as such, not as a catalogue that cannot be read.
    if (!localDestinationAvailable(ctx.control, job)) {
        return false;
    }
    // A replacement of the set that a killed run left half done is completed first.
    std::optional<RemoteListing> listing;
    std::vector<std::string> names;
    if (job.destFTP) {
        if (state.ftp) {
            listing = listRemoteFolder(ctx.control, *state.ftp, job);
        }
        if (listing &&
            !RecoverRemoteSet(ctx.control, *state.ftp, job, *listing, state.work->path(), false)) {
            return false;
        }
        if (listing) {
            for (const auto& [name, size] : *listing) {
                names.push_back(name);
            }
        }
    } else {
        RecoverSet(ctx.control, job, false);
        if (auto entries = fs::listDir(job.sDestinationDir)) {
            names = std::move(*entries);
        }
    }
    const std::string own = job.sName + std::string(kCatalogueExtension);
    bool loadedOwn = false;
    // Records are counted as they are read; with a filter only the wanted ones are kept.
    std::vector<clsRestoreFileData> kept;
    size_t read = 0;
    DateTime newest;
    std::function<bool(const clsRestoreFileData&)> visit;
    if (state.keepRecord) {
        visit = [&](const clsRestoreFileData& rec) {
            ++read;
            newest = std::max(newest, rec.dSession);
            if (!state.keepRecord(rec.fname)) {
                return false;
            }
            kept.push_back(rec);
            return true;
        };
    }
    for (const std::string& file : catalogueFiles(job, names)) {
        kept.clear();
        read = 0;
        newest = {};
        CatalogueFetch fetched =
            FetchCatalogue(ctx.control, encryptionTool(ctx.paths), job, state.ftp.get(),
                           state.work->path(), listing ? &*listing : nullptr, file, {}, visit);
        std::string password = job.password;
        using Status = CatalogueFetch::Status;
        // One kept from before a password change opens only with the password of its time.
        if (fetched.status == Status::DecryptFailed && job.Protected && state.askPassword) {
            if (auto other = state.askPassword(file)) {
                password = *other;
                kept.clear();
                read = 0;
                newest = {};
                fetched = FetchCatalogue(ctx.control, encryptionTool(ctx.paths), job,
                                         state.ftp.get(), state.work->path(),
                                         listing ? &*listing : nullptr, file, password, visit);
            }
        }
        switch (fetched.status) {
            case Status::Read:
                break;
            case Status::Missing:
                if (file == own) {
                    ctx.WriteLog(ctx.messages.format(
                        "strMsgDownloadFailed",
                        {{"%d", job.destFTP ? remoteJoin(job.sDestinationDir, file)
                                            : fs::join(job.sDestinationDir, file)}}));
                }
                continue;
            case Status::FetchFailed:
            case Status::Refused:
                state.lockedSources.push_back(file);
                continue;
            case Status::DecryptFailed:
            case Status::Unreadable:
                ctx.WriteLog(ctx.messages.format("strMsgRestoreDecryptFailed",
                                                 {{"%d", file}, {"%s", fetched.error}}));
                state.lockedSources.push_back(file);
                continue;
        }
        const auto source = static_cast<std::uint32_t>(state.sources.size());
        Catalogue& catalogue = *fetched.catalogue;
        if (fetched.verdict.lost > 0) {
            const std::string text = ctx.messages.format(
                "strMsgCatalogueLinesLostRestore", {{"%d", file},
                                                    {"%i", std::to_string(fetched.verdict.lost)},
                                                    {"%s", lostFilesText(fetched.verdict)}});
            ctx.WriteLog(text);
            tell(ctx.host, text, MsgIcon::Exclamation);
            state.lost += fetched.verdict.lost;
            state.lostFiles.insert(state.lostFiles.end(), fetched.verdict.lostNames.begin(),
                                   fetched.verdict.lostNames.end());
        }
        state.skippedLines += catalogue.skippedLines.size();
        state.skippedLineNumbers.insert(state.skippedLineNumbers.end(),
                                        catalogue.skippedLines.begin(),
                                        catalogue.skippedLines.end());
        if (fetched.sums.status == SumsFile::Status::Damaged) {
            ctx.WriteLog(ctx.messages.format(
                "strMsgSumsDamaged",
                {{"%d", file + std::string(kSumsSuffix)}, {"%s", fetched.sums.error}}));
        }
        if (!visit) {
            read = catalogue.records.size();
            for (const clsRestoreFileData& rec : catalogue.records) {
                newest = std::max(newest, rec.dSession);
            }
        }
        state.recordsRead += read;
        state.newest = std::max(state.newest, newest);
        for (clsRestoreFileData& rec : visit ? kept : catalogue.records) {
            rec.source = source;
            state.records.push_back(std::move(rec));
        }
        if (fetched.meta.status == MetaFile::Status::Damaged) {
            ctx.WriteLog(ctx.messages.format(
                "strMsgMetaDamaged",
                {{"%d", file + std::string(kMetaSuffix)}, {"%s", fetched.meta.error}}));
        }
        state.sources.push_back(
            RestoreSource{file, password, std::move(fetched.sums), std::move(fetched.meta)});
        loadedOwn = loadedOwn || file == own;
    }
    if (state.recordsRead == 0) {
        return false;
    }
    if (state.skippedLines > 0) {
        const std::string text = ctx.messages.format("strMsgCatalogueLinesSkipped",
                                                     {{"%d", std::to_string(state.skippedLines)}});
        ctx.WriteLog(text);
        tell(ctx.host, text, MsgIcon::Exclamation);
    }
    for (const std::string& file : state.lockedSources) {
        const std::string text = ctx.messages.format("strMsgCatalogueLocked", {{"%d", file}});
        ctx.WriteLog(text);
        tell(ctx.host, text, MsgIcon::Exclamation);
    }
    static_cast<void>(loadedOwn);
    state.tree.build(state.records, [&] { ctx.host.yield(); });
    // Folders (empty ones too) and links of the sessions the catalogues hold.
    for (const RestoreSource& source : state.sources) {
        if (!source.meta.meta) {
            continue;
        }
        for (const SessionFacts& s : source.meta.meta->sessions) {
            if (state.tree.find(RestoreTree::sessionKey(s.session)) < 0) {
                continue;
            }
            for (const FolderFact& f : s.folders) {
                state.tree.addFolder(s.session, f.path, static_cast<int>(state.folders.size()));
                state.folders.push_back(RestoreFolder{s.session, f.path, f.facts});
            }
            for (const LinkFact& l : s.links) {
                state.tree.addLink(s.session, l.path, static_cast<int>(state.links.size()));
                state.links.push_back(RestoreLink{s.session, l.path, l.target, l.facts});
            }
        }
    }
    return true;
}

std::vector<int> extrasToRestore(const RestoreState& state, const std::vector<std::string>& paths,
                                 const std::optional<DateTime>& session) {
    auto under = [&](const std::string& path) {
        for (std::string p : paths) {
            while (p.size() > 1 && p.back() == '/') {
                p.pop_back();
            }
            if (p == "/" || path == p || (text::startsWith(path, p) && path[p.size()] == '/')) {
                return true;
            }
        }
        return false;
    };
    // Per path the session to take it from: the given one, or the newest that holds it.
    std::map<std::string, DateTime> newest;
    auto note = [&](const DateTime& s, const std::string& path) {
        if (!under(path) || (session && !(s == *session))) {
            return;
        }
        auto [it, added] = newest.emplace(path, s);
        if (!added && it->second < s) {
            it->second = s;
        }
    };
    for (const RestoreLink& l : state.links) {
        note(l.session, l.path);
    }
    for (const RestoreFolder& f : state.folders) {
        note(f.session, f.path);
    }
    std::vector<int> nodes;
    for (const auto& [path, s] : newest) {
        const int node = state.tree.findPath(s, path);
        // Folders with files below are chosen through their files.
        if (node >= 0 && state.tree.node(node).children.empty() &&
            (state.tree.node(node).link >= 0 || state.tree.node(node).folder >= 0)) {
            nodes.push_back(node);
        }
    }
    return nodes;
}

RestoreSummary RestoreSelectedFiles(AppContext& ctx, RestoreState& state,
                                    const RestoreOptions& options) {
    RestoreSummary summary;
    ctx.flags.bAbortBackup = false;
    const std::vector<int> files = state.tree.checkedFiles();
    const std::vector<int> links = state.tree.checkedLinks();
    // Folders that are not there yet get their recorded facts once the files are in them;
    // folders that are there keep theirs.
    struct FolderToFinish {
        const RestoreFolder* folder;
        std::string target;
        bool empty;
    };
    std::vector<FolderToFinish> folders;
    for (int node : state.tree.foldersInvolved()) {
        const RestoreFolder& f = state.folders[static_cast<size_t>(state.tree.node(node).folder)];
        const auto target = restoreTarget(f.path, options);
        if (target && !fs::exists(*target)) {
            folders.push_back({&f, *target, state.tree.node(node).children.empty()});
        }
    }
    std::int64_t total = 0;
    for (int node : files) {
        total += state.records[static_cast<size_t>(state.tree.node(node).record)].size;
    }
    ctx.control.showProgress(ctx.msg("strMsgRestoringFiles"));
    if (state.job == nullptr || !state.work) {
        tell(ctx.host, ctx.msg("strMsgErrorRetrieveBackupData"), MsgIcon::Exclamation);
        ctx.control.closeProgress();
        return summary;
    }
    RestoreVolumes volumes(ctx.control, encryptionTool(ctx.paths), *state.job, state.ftp.get(),
                           state.work->path());
    VolumeReader reader(&ctx.control, volumes, state.job->bZipped);
    std::int64_t doneBefore = 0;
    // Restored files reach the disk together, per file system, in batches and before the
    // result is told: a flush per file would make the restore wait for the disk twice per
    // file. Each file is still complete and checked before it takes its name.
    constexpr std::int64_t kFlushEvery = std::int64_t{1} << 30;
    DeferredSync pending;
    std::int64_t pendingBytes = 0;
    std::int64_t pendingFiles = 0;
    const auto flushRestored = [&] {
        std::string why;
        if (pendingFiles > 0 && !pending.flush(&why)) {
            const std::string text = ctx.messages.format("strMsgRestoreFlushFailed", {{"%s", why}});
            tell(ctx.host, text, MsgIcon::Critical);
            ctx.WriteLog(text);
            summary.restored -= pendingFiles;
            summary.failed += pendingFiles;
        }
        pendingBytes = 0;
        pendingFiles = 0;
    };

    std::optional<SafeDir> dir;
    std::string openFolderName;
    bool folderRemembered = false;
    int captionVolume = -1;
    std::string caption;
    // A restore that was killed leaves its temporary file (NAME.kestrel-XXXXXX) beside the
    // target; it goes when a restore comes back to that name. Only a name made for a file chosen
    // here counts, never one that is itself chosen, and never one another restore is writing.
    std::unordered_set<std::string> chosen;
    for (int node : files) {
        const std::string& fname =
            state.records[static_cast<size_t>(state.tree.node(node).record)].fname;
        chosen.insert(fname.substr(std::min(fname.find_first_not_of('/'), fname.size())));
    }
    std::vector<std::string> leftovers;  // temporary names in the open folder
    // The open folder's entries, read with its leftovers, so that whether a name is taken needs
    // no look per file; a very large folder is looked into per file instead of held.
    constexpr size_t kMostEntriesHeld = 65536;
    std::unordered_set<std::string> taken;
    bool takenKnown = false;
    // The owner a new file gets: a chown and chmod that would change nothing are left out.
    const std::int64_t me = processUser();
    const std::int64_t myGroup = processGroup();
    const auto removeLeftovers = [&](const std::string& parent, const std::string& name) {
        std::erase_if(leftovers, [&](const std::string& leftover) {
            if (!SafeDir::isTempNameFor(leftover, name) ||
                chosen.count(fs::join(parent, leftover)) != 0) {
                return false;
            }
            if (dir->removeTempLeftover(leftover)) {
                ctx.WriteLog(ctx.messages.format("strMsgLeftoverRemoved",
                                                 {{"%d", fs::join(dir->path(), leftover)}}));
            }
            return true;
        });
    };
    // A line per restored file is written about once a second, not one write each; whatever
    // way this returns, they are written.
    struct FlushLog {
        Log& log;
        ~FlushLog() { log.flush(); }
    } flushLog{ctx.log};
    for (int node : files) {
        const clsRestoreFileData& rec =
            state.records[static_cast<size_t>(state.tree.node(node).record)];
        ctx.host.yield();
        ctx.log.flushIfDue();
        if (ctx.flags.stopping()) {
            flushRestored();
            summary.aborted = true;
            ctx.control.closeProgress();
            return summary;
        }
        auto fail = [&](const std::string& why) {
            ctx.WriteLog(
                ctx.messages.format("strMsgRestoreFileFailed", {{"%d", rec.fname}, {"%s", why}}));
            ++summary.failed;
        };
        const auto target = restoreTarget(rec.fname, options);
        if (!target) {
            ctx.WriteLog(ctx.messages.format("strMsgRestoreUnsafePath", {{"%d", rec.fname}}));
            ++summary.failed;
            continue;
        }
        // Folders and the file are made below the chosen folder (or "/") without following a
        // link planted there; the file is written beside its name and renamed into place.
        const Digest* expected = nullptr;
        const RestoreSource& source = state.sources.at(rec.source);
        volumes.usePassword(source.password);
        const CheckKind check = checkKindFor(source.sums.sums ? &*source.sums.sums : nullptr,
                                             rec.lineDigest, rec.lineIndex, &expected);
        if (check == CheckKind::Unmatched) {
            ctx.WriteLog(ctx.messages.format("strMsgRestoreDamagedLine", {{"%d", rec.fname}}));
            ++summary.failed;
            continue;
        }
        const std::string root = options.toOriginal ? "/" : options.folder;
        std::string_view relative = rec.fname;
        while (!relative.empty() && relative.front() == '/') {
            relative.remove_prefix(1);
        }
        const std::string name = fs::fileNameOf(relative);
        std::string error;
        FileHandle out;
        std::string temp;
        // Files of one folder follow each other: its descriptor is kept for the next, which
        // also keeps the folder checked once from being swapped for a link meanwhile.
        const std::string parent = fs::parentOf(relative);
        if (!dir || openFolderName != parent) {
            dir.reset();
            openFolderName = parent;
            folderRemembered = false;
            // The chosen folder itself is the user's: it is made as given.
            if (options.toOriginal || fs::makeDirs(root, &error)) {
                dir = SafeDir::open(root, parent, true,
                                    options.toOriginal ? SafeDir::LinkPolicy::OwnedByRootOrMe
                                                       : SafeDir::LinkPolicy::Never,
                                    &error);
            }
            leftovers.clear();
            taken.clear();
            takenKnown = false;
            auto entries = dir ? dir->entries() : std::nullopt;
            if (entries) {
                takenKnown = !options.overwrite && entries->size() <= kMostEntriesHeld;
                for (std::string& entry : *entries) {
                    if (SafeDir::isTempName(entry)) {
                        leftovers.push_back(entry);
                    }
                    if (takenKnown) {
                        taken.insert(std::move(entry));
                    }
                }
            }
        }
        if (dir) {
            removeLeftovers(parent, name);
        }
        if (dir && !options.overwrite &&
            (takenKnown ? taken.count(name) != 0 : dir->exists(name)) &&
            ask(ctx.host, ctx.messages.format("strMsgFileExistsOverWrite", {{"%d", *target}}),
                MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::No) != MsgAnswer::Yes) {
            ctx.WriteLog(ctx.messages.format("strMsgRestoreKept", {{"%d", *target}}));
            ++summary.skipped;
            continue;
        }
        // The recorded mode and owner; without them read-only is the one attribute with a
        // POSIX meaning. The creation time cannot be set on this system.
        const PosixFacts* facts =
            source.meta.meta ? source.meta.meta->find(rec.lineDigest) : nullptr;
        const unsigned mode = facts != nullptr               ? facts->mode
                              : (rec.Attrib & kAttrReadOnly) ? 0444
                                                             : 0644;
        const auto [uid, gid] =
            facts != nullptr ? ownerFor(*facts) : std::pair<std::int64_t, std::int64_t>{-1, -1};
        // A file that keeps the owner it is created with is created with its mode. One that
        // gets another owner or a set-id bit stays private until it is whole and given them.
        const bool keepsCreator =
            (uid < 0 || uid == me) && (gid < 0 || gid == myGroup) && (mode & 07000) == 0;
        if (!dir || !dir->createTemp(name, out, &temp, &error, keepsCreator ? mode : 0600)) {
            const std::string text =
                ctx.messages.format("strMsgCantOpenFileToRestore", {{"%d", *target}});
            tell(ctx.host, text, MsgIcon::Critical);
            ctx.WriteLog(text);
            fail(error);
            continue;
        }

        HoleWriter writer(out);
        const ExtractResult r = reader.extract(
            rec, [&](std::string_view data) { return writer.add(data); },
            [&](int volume, std::int64_t done) {
                // The caption changes with the volume only, not with every file.
                if (volume != captionVolume) {
                    captionVolume = volume;
                    caption = ctx.messages.format(
                        "strMsgRestoreProgressCaption",
                        {{"%d", state.job->sName}, {"%i", std::to_string(volume)}});
                }
                ctx.control.updateProgress(caption, rec.fname + " -> " + *target,
                                           rec.size > 0 ? 100.0 * static_cast<double>(done) /
                                                              (static_cast<double>(rec.size) + 1)
                                                        : 100,
                                           100.0 * static_cast<double>(doneBefore + done) /
                                               (static_cast<double>(total) + 1));
            },
            expected);
        doneBefore += rec.size;

        bool ok = r.status == ExtractStatus::Ok;
        if (!ok) {
            if (r.status == ExtractStatus::Aborted) {
                out.close();
                dir->remove(temp);
                flushRestored();
                summary.aborted = true;
                ctx.control.closeProgress();
                return summary;
            }
            if (r.status == ExtractStatus::WriteFailed) {
                const std::string text =
                    ctx.messages.format("strMsgCantOpenFileToRestore", {{"%d", *target}});
                tell(ctx.host, text, MsgIcon::Critical);
                ctx.WriteLog(text);
                error = out.status().text();
            } else {
                const std::string volume = r.volume + std::string(kVolumeExtension);
                const std::string text = ctx.messages.format(
                    r.status == ExtractStatus::VolumeMissing ? "strMsgCantOpenArchiveToRestore"
                                                             : "strMsgCantOpenArchiveToRestore2",
                    {{"%d", volume}});
                tell(ctx.host, text, MsgIcon::Critical);
                ctx.WriteLog(text);
                error = std::string(extractStatusText(r.status)) + ": " + r.detail;
            }
        } else {
            ok = writer.finish();
            // What the file has already (the umask may have taken bits, a set-group-id
            // folder given its group) is not set again.
            const auto has = ok ? out.owner() : std::nullopt;
            const bool newOwner =
                (uid >= 0 && (!has || has->uid != uid)) || (gid >= 0 && (!has || has->gid != gid));
            // The owner first: changing it clears set-id bits.
            if (ok && newOwner && !dir->setFacts(temp, -1, uid, gid, &error)) {
                ctx.WriteLog(ctx.messages.format("strMsgRestoreFactsFailed",
                                                 {{"%d", *target}, {"%s", error}}));
            }
            ok = ok && ((!newOwner && has && has->mode == mode) || out.setMode(mode)) &&
                 out.setTimes(rec.lastAccessTime, rec.lastWriteTime);
            error = out.status().text();
        }
        // Renamed while still open: its lock keeps it from being taken for a leftover.
        if (ok && !dir->renameInto(temp, name, &error, false)) {
            ok = false;
        }
        out.close();
        if (!ok) {
            dir->remove(temp);
            fail(error);
            continue;
        }
        if (takenKnown) {
            taken.insert(name);
        }
        ctx.log.WriteLogBatched(ctx.messages.format("strMsgRestoredOk", {{"%d", *target}}));
        ++summary.restored;
        summary.weak += check == CheckKind::Weak ? 1 : 0;
        if (!folderRemembered) {
            pending.add(*dir);
            folderRemembered = true;
        }
        ++pendingFiles;
        pendingBytes += writer.size();
        if (pendingBytes >= kFlushEvery) {
            flushRestored();
        }
    }
    ctx.log.flush();

    // Links as links: the name is replaced, nothing is written where a link leads.
    for (int node : links) {
        const RestoreLink& link = state.links[static_cast<size_t>(state.tree.node(node).link)];
        const auto target = restoreTarget(link.path, options);
        std::string error;
        if (!target) {
            ctx.WriteLog(ctx.messages.format("strMsgRestoreUnsafePath", {{"%d", link.path}}));
            ++summary.failed;
            continue;
        }
        dir.reset();
        EntryPlace place = openPlace(link.path, options, true, &error);
        if (place.dir && place.dir->exists(place.name) && !options.overwrite &&
            ask(ctx.host, ctx.messages.format("strMsgFileExistsOverWrite", {{"%d", *target}}),
                MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::No) != MsgAnswer::Yes) {
            ctx.WriteLog(ctx.messages.format("strMsgRestoreKept", {{"%d", *target}}));
            ++summary.skipped;
            continue;
        }
        const auto [uid, gid] = ownerFor(link.facts);
        if (!place.dir || !place.dir->createLink(place.name, link.target, &error)) {
            ctx.WriteLog(
                ctx.messages.format("strMsgRestoreFileFailed", {{"%d", link.path}, {"%s", error}}));
            ++summary.failed;
            continue;
        }
        if ((uid >= 0 || gid >= 0) && !place.dir->setFacts(place.name, -1, uid, gid, &error)) {
            ctx.WriteLog(
                ctx.messages.format("strMsgRestoreFactsFailed", {{"%d", *target}, {"%s", error}}));
        }
        ctx.WriteLog(
            ctx.messages.format("strMsgRestoredOk", {{"%d", *target + " -> " + link.target}}));
        ++summary.restored;
        pending.add(*place.dir);
        ++pendingFiles;
    }
    // The folders last, the deepest first: a folder without write permission must not keep
    // what goes into it out.
    for (const FolderToFinish& f : folders) {
        std::string error;
        dir.reset();
        EntryPlace place = openPlace(f.folder->path, options, f.empty, &error);
        if (!place.dir || (f.empty && !place.dir->makeFolder(place.name, &error))) {
            ctx.WriteLog(
                ctx.messages.format("strMsgRestoreFactsFailed", {{"%d", f.target}, {"%s", error}}));
            continue;
        }
        if (!place.dir->isFolder(place.name)) {
            continue;  // nothing below it was restored
        }
        const auto [uid, gid] = ownerFor(f.folder->facts);
        if (!place.dir->setFacts(place.name, f.folder->facts.mode, uid, gid, &error)) {
            ctx.WriteLog(
                ctx.messages.format("strMsgRestoreFactsFailed", {{"%d", f.target}, {"%s", error}}));
        }
    }

    flushRestored();
    ctx.control.closeProgress();
    if (summary.weak > 0) {
        ctx.WriteLog(ctx.messages.format("strMsgRestoreWeakChecked",
                                         {{"%i", std::to_string(summary.weak)}}));
    }
    const size_t chosenCount = files.size() + links.size();
    if (chosenCount == 0 && folders.empty()) {
        tell(ctx.host, ctx.msg("strMsgNoFilesToRestore"), MsgIcon::Critical);
    } else if (summary.restored == 0 && chosenCount > 0) {
        // Files were chosen, and the log says for each why it was not restored.
        const std::string text =
            ctx.messages.format("strMsgNoneRestored", {{"%1", std::to_string(chosenCount)},
                                                       {"%2", std::to_string(summary.failed)},
                                                       {"%3", std::to_string(summary.skipped)}});
        ctx.WriteLog(text);
        tell(ctx.host, text, MsgIcon::Critical);
    } else if (options.toOriginal) {
        tell(ctx.host,
             ctx.messages.format(
                 "strMsgNrRestoredFilesOriginal",
                 {{"%1", std::to_string(summary.restored)}, {"%2", std::to_string(chosenCount)}}),
             MsgIcon::Information);
    } else {
        tell(ctx.host,
             ctx.messages.format("strMsgNrRestoredFiles", {{"%1", std::to_string(summary.restored)},
                                                           {"%2", std::to_string(chosenCount)},
                                                           {"%d", options.folder}}),
             MsgIcon::Information);
    }
    return summary;
}

}  // namespace kestrel
