// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/set_switch.h"

#include <algorithm>

#include "archive/format.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "core/run_control.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kJournalHeader = "KestrelSwitch=1|full=";

std::string journalPath(const clsBackup& job) {
    return fs::join(job.sDestinationDir, switchJournalName(job.sName));
}

std::string stagedPath(const clsBackup& job, const std::string& name) {
    return fs::join(job.sDestinationDir, name + std::string(kStagedSuffix));
}

bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Renames what is still staged into place and, for a full set, drops the old volumes the new
// set does not have. Renaming twice is harmless: what is no longer staged was renamed before.
bool completeSwitch(RunControl& rc, const clsBackup& job, const std::vector<std::string>& names,
                    bool full, std::string* error) {
    for (const std::string& name : names) {
        const std::string staged = stagedPath(job, name);
        if (fs::exists(staged) &&
            !fs::renameFile(staged, fs::join(job.sDestinationDir, name), error)) {
            return false;
        }
    }
    if (full) {
        auto entries = fs::listDir(job.sDestinationDir, error);
        if (!entries) {
            return false;
        }
        for (const std::string& entry : *entries) {
            if (isFullVolumeOf(job.sName, entry) &&
                std::find(names.begin(), names.end(), entry) == names.end()) {
                std::string why;
                if (!fs::removeFile(fs::join(job.sDestinationDir, entry), &why)) {
                    // Unreferenced by the new catalogue: in the way of nothing.
                    rc.WriteLog(rc.messages.format("strMsgSetSwitchFailed",
                                                   {{"%d", job.sName}, {"%s", why}}));
                }
            }
        }
    }
    if (!fs::syncFolder(job.sDestinationDir)) {
        if (error != nullptr) {
            *error = "cannot flush the folder " + job.sDestinationDir;
        }
        return false;
    }
    return fs::removeFile(journalPath(job), error) || !fs::exists(journalPath(job));
}

}  // namespace

bool isFullVolumeOf(const std::string& jobName, std::string_view fileName) {
    if (!text::startsWith(fileName, jobName) || !text::endsWith(fileName, kVolumeExtension)) {
        return false;
    }
    std::string_view rest = fileName.substr(jobName.size());
    rest.remove_suffix(kVolumeExtension.size());
    return rest.empty() || (rest.size() == 4 && rest[0] == '-' && allDigits(rest.substr(1)));
}

std::string switchJournalName(const std::string& jobName) {
    return jobName + std::string(kCatalogueExtension) + std::string(kSwitchSuffix);
}

std::string switchJournalText(const SwitchJournal& journal) {
    std::string out = std::string(kJournalHeader) + (journal.full ? "1" : "0") + "\n";
    for (const std::string& name : journal.names) {
        out += name + "\n";
    }
    return out;
}

std::optional<SwitchJournal> parseSwitchJournal(std::string_view content,
                                                const std::string& jobName) {
    if (!text::startsWith(content, kJournalHeader)) {
        return std::nullopt;
    }
    SwitchJournal journal;
    const std::vector<std::string> lines = text::split(content, '\n');
    if (lines[0] == std::string(kJournalHeader) + "1") {
        journal.full = true;
    } else if (lines[0] != std::string(kJournalHeader) + "0") {
        return std::nullopt;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            continue;
        }
        // A journal names the set's own files, and nothing with a folder.
        if (!isSetFileOf(jobName, lines[i]) || lines[i].find('/') != std::string::npos) {
            return std::nullopt;
        }
        journal.names.push_back(lines[i]);
    }
    // Written whole or not at all: a journal that lost its end names no catalogue.
    const std::string catalogue = jobName + std::string(kCatalogueExtension);
    if (std::find(journal.names.begin(), journal.names.end(), catalogue) == journal.names.end()) {
        return std::nullopt;
    }
    return journal;
}

std::string keptCatalogueName(const std::string& jobName, const DateTime& when) {
    return jobName + std::string(kCatalogueExtension) + std::string(kKeptInfix) +
           when.format("yyyyMMddHHmmss");
}

bool isKeptCatalogueOf(const std::string& jobName, std::string_view fileName) {
    const std::string prefix = jobName + std::string(kCatalogueExtension) + std::string(kKeptInfix);
    if (!text::startsWith(fileName, prefix)) {
        return false;
    }
    std::string_view stamp = fileName.substr(prefix.size());
    // Two kept in the same second get a letter after the stamp.
    if (stamp.size() == 15 && stamp.back() >= 'a' && stamp.back() <= 'z') {
        stamp.remove_suffix(1);
    }
    return stamp.size() == 14 && allDigits(stamp);
}

bool keepCatalogue(const clsBackup& job, const std::string& keptName, std::string* error) {
    const std::string catalogue =
        fs::join(job.sDestinationDir, job.sName + std::string(kCatalogueExtension));
    const std::string kept = fs::join(job.sDestinationDir, keptName);
    // The sidecars go first and come back when the catalogue cannot follow them.
    std::vector<std::string_view> moved;
    auto undo = [&] {
        for (const std::string_view suffix : moved) {
            static_cast<void>(
                fs::renameFile(kept + std::string(suffix), catalogue + std::string(suffix)));
        }
        return false;
    };
    for (const std::string_view suffix : {kSumsSuffix, kMetaSuffix}) {
        const std::string sidecar = catalogue + std::string(suffix);
        if (fs::exists(sidecar)) {
            if (!fs::renameFile(sidecar, kept + std::string(suffix), error)) {
                return undo();
            }
            moved.push_back(suffix);
        }
    }
    if (!fs::renameFile(catalogue, kept, error)) {
        return undo();
    }
    return fs::syncFolder(job.sDestinationDir);
}

std::string buildFolderOf(const clsBackup& job) {
    return fs::join(job.sDestinationDir, "." + job.sName + ".kestrel-build");
}

bool isSetFileOf(const std::string& jobName, std::string_view fileName) {
    const std::string catalogue = jobName + std::string(kCatalogueExtension);
    if (fileName == catalogue || fileName == catalogue + std::string(kSumsSuffix) ||
        fileName == catalogue + std::string(kMetaSuffix) ||
        fileName == catalogue + std::string(kSwitchSuffix)) {
        return true;
    }
    if (!text::startsWith(fileName, jobName) || !text::endsWith(fileName, kVolumeExtension)) {
        return false;
    }
    // What follows the name: an incremental run's stamp (12 or 14 digits, perhaps a letter)
    // and a volume number.
    std::string_view rest = fileName.substr(jobName.size());
    rest.remove_suffix(kVolumeExtension.size());
    if (rest.size() >= 4 && rest[rest.size() - 4] == '-' &&
        allDigits(rest.substr(rest.size() - 3))) {
        rest.remove_suffix(4);
    }
    if (!rest.empty() && rest.back() >= 'a' && rest.back() <= 'z' && rest.size() == 15) {
        rest.remove_suffix(1);
    }
    return rest.empty() || ((rest.size() == 12 || rest.size() == 14) && allDigits(rest));
}

bool SwitchSet(RunControl& rc, const clsBackup& job, const std::vector<std::string>& names,
               bool full, std::string* error) {
    // Only complete, flushed files may be named by the journal.
    for (const std::string& name : names) {
        if (!fs::syncFile(stagedPath(job, name), error)) {
            return false;
        }
    }
    const std::string journal = switchJournalText(SwitchJournal{full, names});
    if (!fs::writeFileAtomic(journalPath(job), journal, 0600, error)) {
        return false;
    }
    return completeSwitch(rc, job, names, full, error);
}

void DiscardStaged(RunControl&, const clsBackup& job, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        fs::removeLeftover(stagedPath(job, name));
    }
}

void RecoverSet(RunControl& rc, const clsBackup& job, bool removeLeftovers) {
    if (job.destFTP || !job.archived || !fs::isDirectory(job.sDestinationDir)) {
        return;
    }
    const std::string journalFile = journalPath(job);
    if (fs::exists(journalFile)) {
        std::string error;
        auto content = fs::readFile(journalFile, &error);
        std::optional<SwitchJournal> journal;
        if (content) {
            journal = parseSwitchJournal(*content, job.sName);
        }
        if (!journal) {
            rc.WriteLog(rc.messages.format(
                "strMsgSetSwitchFailed",
                {{"%d", job.sName}, {"%s", error.empty() ? journalFile + " is damaged" : error}}));
            return;
        }
        if (!completeSwitch(rc, job, journal->names, journal->full, &error)) {
            rc.WriteLog(
                rc.messages.format("strMsgSetSwitchFailed", {{"%d", job.sName}, {"%s", error}}));
            return;
        }
        rc.WriteLog(rc.messages.format("strMsgSetRecovered", {{"%d", job.sName}}));
    }
    if (removeLeftovers) {
        RemoveRunLeftovers(rc, job, true);
    }
}

void RemoveRunLeftovers(RunControl& rc, const clsBackup& job, bool withStaged) {
    // An empty destination would name a folder relative to wherever the process runs.
    if (job.destFTP || job.sDestinationDir.empty() || !fs::isDirectory(job.sDestinationDir)) {
        return;
    }
    // Whatever the job is now: it may have been an archive job when the run was killed.
    const std::string build = buildFolderOf(job);
    if (fs::isDirectory(build)) {
        std::string why;
        if (fs::removeTree(build, &why)) {
            rc.WriteLog(rc.messages.format("strMsgLeftoverRemoved", {{"%d", build}}));
        } else {
            rc.WriteLog(
                rc.messages.format("strMsgLeftoverNotRemoved", {{"%d", build}, {"%s", why}}));
        }
    }
    const std::string journalFile = journalPath(job);
    // Staged files a journal names are the new set, which the next run or restore puts in place.
    if (!withStaged || !job.archived || fs::exists(journalFile)) {
        return;
    }
    auto entries = fs::listDir(job.sDestinationDir);
    if (!entries) {
        return;
    }
    for (const std::string& entry : *entries) {
        std::string stem;
        const bool staged =
            text::endsWith(entry, kStagedSuffix) &&
            isSetFileOf(job.sName, entry.substr(0, entry.size() - kStagedSuffix.size()));
        const bool cut =
            fs::isCopyLeftover(entry, &stem) &&
            (isSetFileOf(job.sName, stem) ||
             (text::endsWith(stem, kStagedSuffix) &&
              isSetFileOf(job.sName, stem.substr(0, stem.size() - kStagedSuffix.size()))));
        // The journal's own write cut short.
        const bool journal =
            fs::isAtomicWriteLeftover(entry, &stem) && stem == fs::fileNameOf(journalFile);
        const std::string path = fs::join(job.sDestinationDir, entry);
        if ((staged || cut || journal) && fs::isRegularFile(path) && fs::removeFile(path)) {
            rc.WriteLog(rc.messages.format("strMsgLeftoverRemoved", {{"%d", path}}));
        }
    }
}

}  // namespace kestrel
