// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/enumeration.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "core/run_control.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kProgressIntervalMs = 100;

PosixFacts posixOf(const FileFacts& facts) {
    return PosixFacts{facts.mode, facts.uid, facts.gid};
}

std::string withoutSeparator(std::string path) {
    while (path.size() > 1 && path.back() == fs::kSeparator) {
        path.pop_back();
    }
    return path;
}

clsDskFile recordFor(const SharedPath& folderWithSeparator, const std::string& name,
                     const FileFacts& facts) {
    clsDskFile f;
    f.hasPosix = true;
    f.posixMode = facts.mode;
    f.uid = facts.uid;
    f.gid = facts.gid;
    f.filename = name;
    f.path = folderWithSeparator;
    f.dSize = facts.size;
    f.dAttrib = facts.attributes;
    f.creationTime = facts.creationTime;
    f.lastAccessTime = facts.lastAccessTime;
    f.lastWriteTime = facts.lastWriteTime;
    f.lastWriteNs = facts.lastWriteNs;
    return f;
}

struct Search {
    // A folder to leave out, known by its device and inode.
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        const std::string* messageKey = nullptr;
    };

    RunControl& rc;
    WorkingList& list;
    ListingProblems& problems;
    std::vector<Identity> leaveOut;
    TreeFacts* facts = nullptr;
    std::uint64_t lastProgress = 0;

    // Whether dir is a folder to leave out (logged when it is): one stat per folder.
    bool leftOut(const std::string& dir) {
        if (leaveOut.empty()) {
            return false;
        }
        const fs::FileStamp stamp = fs::stampOf(dir);
        for (const Identity& id : leaveOut) {
            if (stamp.exists && stamp.device == id.device && stamp.inode == id.inode) {
                rc.WriteLog(rc.messages.format(*id.messageKey, {{"%d", dir}}));
                return true;
            }
        }
        return false;
    }

    void folder(const std::string& dir) {
        std::string error;
        auto names = fs::listDir(dir, &error);
        if (!names) {
            rc.WriteLog(rc.messages.format("strMsgCantReadFolder", {{"%d", dir}, {"%s", error}}));
            ++problems.unreadable;
            return;
        }
        if (facts != nullptr) {
            facts->addFolderAndAbove(withoutSeparator(dir));
            if (names->empty()) {
                facts->emptyFolders.push_back(withoutSeparator(dir));
            }
        }
        const std::string prefix = dir.back() == fs::kSeparator ? dir : dir + fs::kSeparator;
        const SharedPath folderOfFiles(prefix);  // one text for all the files listed here
        for (const std::string& name : *names) {
            if (rc.flags.stopping()) {
                return;
            }
            rc.host.yield();
            const std::string full = prefix + name;
            auto facts = statFile(full, false, &error);
            if (facts && facts->kind == FileKind::Symlink && this->facts != nullptr) {
                // Kept as what it is: following it would store another's file, or loop.
                if (auto target = readLink(full, &error)) {
                    // A link has no mode of its own to keep.
                    this->facts->links.push_back(
                        LinkFact{full, *target, PosixFacts{0, facts->uid, facts->gid}});
                } else {
                    rc.WriteLog(
                        rc.messages.format("strMsgCantReadFolder", {{"%d", full}, {"%s", error}}));
                    ++problems.unreadable;
                }
                continue;
            }
            if (facts && facts->kind == FileKind::Symlink) {
                auto target = statFile(full, true);
                if (target && target->kind == FileKind::Directory) {
                    rc.WriteLog(rc.messages.format("strMsgSkippedFolderLink", {{"%d", full}}));
                    continue;
                }
                // A link to a file stands for the file.
                facts = target;
                if (!facts) {
                    rc.WriteLog(rc.messages.format("strMsgSkippedNotRegular", {{"%d", full}}));
                    continue;
                }
            }
            if (!facts) {
                rc.WriteLog(
                    rc.messages.format("strMsgCantReadFolder", {{"%d", full}, {"%s", error}}));
                ++problems.unreadable;
            } else if (facts->kind == FileKind::Directory) {
                if (!leftOut(full)) {
                    folder(full);
                }
            } else if (facts->kind == FileKind::Regular) {
                list.push_back(recordFor(folderOfFiles, name, *facts));
                const std::uint64_t now = rc.clock.tickMs();
                if (now - lastProgress >= kProgressIntervalMs) {
                    lastProgress = now;
                    rc.updateProgress(rc.msg("strMsgSearchingForFiles"), name + " < " + prefix, 0,
                                      0);
                }
            } else {
                rc.WriteLog(rc.messages.format("strMsgSkippedNotRegular", {{"%d", full}}));
            }
            if (rc.flags.bPauseBackup) {
                WaitWhilePaused(rc);
            }
        }
    }
};

// A pattern list reduced for matching: "*" and "." removed, blanks trimmed, empty ones dropped.
std::vector<std::string> reducedPatterns(const std::string& mask) {
    std::vector<std::string> patterns;
    for (const std::string& raw : text::split(mask, ';')) {
        std::string p;
        for (char c : raw) {
            if (c != '*' && c != '.') {
                p += c;
            }
        }
        p = std::string(text::trimBlanks(p));
        if (!p.empty()) {
            patterns.push_back(text::lower(p));
        }
    }
    return patterns;
}

bool matches(const std::string& filename, const std::vector<std::string>& patterns) {
    const std::string name = text::lower(filename);
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& p) { return text::endsWith(name, p); });
}

constexpr std::string_view kMaskSection = "masks";
constexpr int kMaskSlots = 10;

std::string maskKey(MaskKind kind, int slot) {
    char key[16];
    std::snprintf(key, sizeof key, "%s%02d", kind == MaskKind::Include ? "imask" : "emask", slot);
    return key;
}

}  // namespace

std::vector<LeftOutFolder> ownFolders(const std::string& programFolder, const clsBackup& job) {
    std::vector<LeftOutFolder> folders;
    if (!job.destFTP && !job.sDestinationDir.empty()) {
        folders.push_back({job.sDestinationDir, "strMsgLeftOutDestination"});
    }
    folders.push_back({programFolder, "strMsgLeftOutProgramFolder"});
    return folders;
}

void TreeFacts::addFolderAndAbove(const std::string& path) {
    if (path.empty() || folders.count(path) != 0) {
        return;
    }
    if (auto f = statFile(path, false); f && f->kind == FileKind::Directory) {
        folders[path] = posixOf(*f);
    }
    if (path != "/") {
        addFolderAndAbove(fs::parentOf(path).empty() ? "/" : fs::parentOf(path));
    }
}

SessionFacts TreeFacts::forSession(const WorkingList& files, const Meta* previous) const {
    // The newest earlier record of each link and folder.
    std::unordered_map<std::string, const LinkFact*> oldLinks;
    std::unordered_map<std::string, PosixFacts> oldFolders;
    if (previous != nullptr) {
        for (const SessionFacts& s : previous->sessions) {
            for (const LinkFact& l : s.links) {
                oldLinks[l.path] = &l;
            }
            for (const FolderFact& f : s.folders) {
                oldFolders[f.path] = f.facts;
            }
        }
    }
    SessionFacts session;
    std::map<std::string, PosixFacts> chosen;
    auto above = [&](std::string path) {
        for (path = fs::parentOf(path); !path.empty(); path = fs::parentOf(path)) {
            const auto it = folders.find(path);
            if (it == folders.end() || !chosen.emplace(path, it->second).second) {
                break;
            }
            if (path == "/") {
                break;
            }
        }
    };
    for (const clsDskFile& f : files) {
        above(f.fullName());
    }
    for (const LinkFact& l : links) {
        const auto old = oldLinks.find(l.path);
        if (old != oldLinks.end() && old->second->target == l.target &&
            old->second->facts == l.facts) {
            continue;
        }
        session.links.push_back(l);
        above(l.path);
    }
    for (const std::string& path : emptyFolders) {
        const auto it = folders.find(path);
        const auto old = oldFolders.find(path);
        if (it == folders.end() || (old != oldFolders.end() && old->second == it->second)) {
            continue;
        }
        chosen.emplace(path, it->second);
        above(path);
    }
    for (const auto& [path, facts] : chosen) {
        session.folders.push_back(FolderFact{path, facts});
    }
    std::sort(session.links.begin(), session.links.end(),
              [](const LinkFact& a, const LinkFact& b) { return a.path < b.path; });
    return session;
}

void SearchFiles(RunControl& rc, const std::string& folder, WorkingList& list,
                 ListingProblems& problems, const std::vector<LeftOutFolder>& leaveOut,
                 TreeFacts* facts) {
    Search search{rc, list, problems, {}, facts};
    for (const LeftOutFolder& f : leaveOut) {
        // A folder that is not there yet cannot be inside a source.
        const fs::FileStamp stamp = fs::stampOf(f.path);
        if (stamp.exists) {
            search.leaveOut.push_back({stamp.device, stamp.inode, &f.messageKey});
        }
    }
    if (!search.leftOut(folder)) {
        search.folder(folder);
    }
}

void MakeSingleFileEntry(RunControl& rc, const clsBackupFile& entry, WorkingList& list,
                         ListingProblems& problems, TreeFacts* treeFacts) {
    clsDskFile f;
    const std::string name = fs::fileNameOf(entry.sPath);
    const std::string_view folder(entry.sPath.data(), entry.sPath.size() - name.size());
    if (!list.empty() && list.back().path == folder) {
        f.path = list.back().path;  // entries of one folder follow each other
    } else {
        f.path = std::string(folder);
    }
    f.dSize = entry.dSize;
    std::string error;
    auto facts = statFile(entry.sPath, true, &error);
    if (facts && facts->kind != FileKind::Regular) {
        rc.WriteLog(rc.messages.format("strMsgSkippedNotRegular", {{"%d", entry.sPath}}));
        ++problems.unreadable;
        return;
    }
    if (facts) {
        f.filename = name;
        f.hasPosix = true;
        f.posixMode = facts->mode;
        f.uid = facts->uid;
        f.gid = facts->gid;
        if (treeFacts != nullptr) {
            treeFacts->addFolderAndAbove(withoutSeparator(f.path));
        }
        f.dAttrib = facts->attributes;
        f.creationTime = facts->creationTime;
        f.lastAccessTime = facts->lastAccessTime;
        f.lastWriteTime = facts->lastWriteTime;
        f.lastWriteNs = facts->lastWriteNs;
    }
    list.push_back(std::move(f));
}

void ApplyMasks(RunControl& rc, const std::string& includeMask, const std::string& excludeMask,
                WorkingList& list, TreeFacts* facts) {
    const bool includeMode = !text::trimBlanks(text::replaceAll(includeMask, "*.*", "")).empty();
    const bool excludeMode = !text::trimBlanks(excludeMask).empty();
    if (!includeMode && !excludeMode) {
        return;
    }
    rc.host.setStatusText(1, rc.msg("strMsgPerformFilterOp"));
    rc.host.yield();
    const auto include = reducedPatterns(includeMask);
    const auto exclude = reducedPatterns(excludeMask);
    std::erase_if(list, [&](const clsDskFile& f) {
        return includeMode ? !matches(f.filename, include) : matches(f.filename, exclude);
    });
    // A link is kept or dropped by its own name, as a file is.
    if (facts != nullptr) {
        std::erase_if(facts->links, [&](const LinkFact& l) {
            const std::string name = fs::fileNameOf(l.path);
            return includeMode ? !matches(name, include) : matches(name, exclude);
        });
    }
}

std::vector<std::string> RefreshMasks(const Settings& settings, MaskKind kind) {
    std::vector<std::string> masks = {"*.*"};
    for (int slot = 1; slot <= kMaskSlots; ++slot) {
        std::string value = settings.GetSetting(kSettingsArea, kMaskSection, maskKey(kind, slot));
        if (!text::trimSpace(value).empty()) {
            masks.push_back(std::move(value));
        }
    }
    return masks;
}

bool RememberMask(Settings& settings, MaskKind kind, std::string_view mask) {
    const std::string trimmed(text::trimSpace(mask));
    const auto known = RefreshMasks(settings, kind);
    if (trimmed.empty() || std::find(known.begin(), known.end(), trimmed) != known.end()) {
        return false;
    }
    for (int slot = 1; slot <= kMaskSlots; ++slot) {
        const std::string key = maskKey(kind, slot);
        if (text::trimSpace(settings.GetSetting(kSettingsArea, kMaskSection, key)).empty()) {
            return settings.SaveSetting(kSettingsArea, kMaskSection, key, trimmed);
        }
    }
    return false;  // all ten taken: the mask is used but not remembered
}

namespace {

constexpr std::uint64_t kFnvBasis = 14695981039346656037ull;

// FNV-1a goes byte by byte, so a folder's hash continues into its file's name.
std::uint64_t hashOf(std::uint64_t h, std::string_view bytes) {
    for (unsigned char c : bytes) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

std::uint64_t keyOf(std::uint64_t nameHash, const FileTime& t) {
    const std::uint64_t time =
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(t.high)) << 32) |
        static_cast<std::uint32_t>(t.low);
    return nameHash ^ (time * 0x9E3779B97F4A7C15ull);
}

}  // namespace

UnchangedFiles::UnchangedFiles(const WorkingList& list) : m_list(list), m_drop(list.size(), false) {
    m_byKey.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        const clsDskFile& f = list[i];
        m_byKey.push_back({keyOf(hashOf(hashOf(kFnvBasis, f.path), f.filename), f.lastWriteTime),
                           static_cast<std::uint32_t>(i)});
    }
    std::sort(m_byKey.begin(), m_byKey.end());
}

void UnchangedFiles::match(const std::string& name, const FileTime& time) {
    const std::uint64_t key = keyOf(hashOf(kFnvBasis, name), time);
    auto it = std::lower_bound(m_byKey.begin(), m_byKey.end(), Entry{key, 0});
    for (; it != m_byKey.end() && it->key() == key; ++it) {
        const clsDskFile& f = m_list[it->index];
        if (!m_drop[it->index] && f.lastWriteTime == time &&
            name.size() == f.path.size() + f.filename.size() && text::startsWith(name, f.path) &&
            text::endsWith(name, f.filename)) {
            m_drop[it->index] = true;
            return;
        }
    }
}

void UnchangedFiles::dropFrom(WorkingList& list) const {
    size_t i = 0;
    std::erase_if(list, [&](const clsDskFile&) { return m_drop[i++]; });
}

}  // namespace kestrel
