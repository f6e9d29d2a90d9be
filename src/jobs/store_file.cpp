// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/store_file.h"

#include <optional>
#include <vector>

#include "core/run_control.h"
#include "jobs/store_format.h"
#include "platform/fs.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr unsigned kPrivateMode = 0600;

StoreState stateOf(const IniFile& ini, bool noJobRead, const std::vector<StoreProblem>& problems) {
    if (problems.empty()) {
        return StoreState::Sound;
    }
    if (noJobRead) {
        for (const std::string& section : ini.sectionNames()) {
            if (!text::iequals(section, kJobListSection)) {
                return StoreState::JobsUnreadable;
            }
        }
    }
    return StoreState::Damaged;
}

// The copy of a damaged store with exactly this content, if one was kept.
std::optional<std::string> keptCopyOf(const std::string& path, const std::string& content) {
    const std::string folder = fs::parentOf(path);
    const std::string prefix = fs::fileNameOf(path) + ".damaged-";
    auto entries = fs::listDir(folder);
    if (!entries) {
        return std::nullopt;
    }
    for (const std::string& entry : *entries) {
        if (!text::startsWith(entry, prefix) || fs::isAtomicWriteLeftover(entry)) {
            continue;
        }
        const std::string copy = fs::join(folder, entry);
        const auto size = fs::fileSize(copy);
        if (size && *size == static_cast<std::int64_t>(content.size()) &&
            fs::readFile(copy) == content) {
            return copy;
        }
    }
    return std::nullopt;
}

// Before a damaged store is rewritten from what could be read of it, its content is kept beside
// it, once however often it is written. False when it must stay as it is: no job of it can be
// read (a rewrite would drop them all), or the copy cannot be made.
bool keepDamagedStore(const std::string& path, const std::string& content, RunControl& rc) {
    const IniFile ini = IniFile::parse(content);
    Jobs read;
    std::vector<StoreProblem> problems;
    readJobStore(ini, read, problems);
    switch (stateOf(ini, read.empty(), problems)) {
        case StoreState::Sound:
            return true;
        case StoreState::JobsUnreadable:
            rc.WriteLog(rc.format("strMsgStoreJobsUnreadable", {{"%d", path}}));
            return false;
        case StoreState::Damaged:
            break;
    }
    if (keptCopyOf(path, content)) {
        return true;
    }
    const std::string stamp = rc.clock.now().format("yyyyMMddHHmmss");
    std::string copy = path + ".damaged-" + stamp;
    for (int n = 1; fs::exists(copy); ++n) {
        copy = path + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    std::string error;
    if (!fs::writeFileAtomic(copy, content, kPrivateMode, &error)) {
        rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        return false;
    }
    rc.WriteLog(rc.format("strMsgStoreCopyKept", {{"%d", copy}}));
    return true;
}

}  // namespace

bool LoadJobs(const std::string& path, Jobs& jobs, RunControl& rc, StoreState* state) {
    std::string error;
    IniFile ini;
    if (ini.load(path, &error) == IniFile::LoadResult::Failed) {
        rc.WriteLog(rc.format("strMsgStoreReadFailed", {{"%s", error}}));
        return false;
    }
    std::vector<StoreProblem> problems;
    const size_t before = jobs.count();
    readJobStore(ini, jobs, problems);
    for (const StoreProblem& p : problems) {
        rc.WriteLog(rc.format("strMsgStoreLineSkipped", {{"%d", p.section}, {"%s", p.what}}));
    }
    if (state != nullptr) {
        *state = stateOf(ini, jobs.count() == before, problems);
    }
    return true;
}

bool SaveJobs(const std::string& path, const Jobs& jobs, RunControl& rc) {
    const std::string backup = path + ".bak";
    std::string error;
    if (fs::exists(path)) {
        // What cannot be read cannot be checked for jobs the new version would drop.
        auto previous = fs::readFile(path, &error);
        if (!previous) {
            rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
            return false;
        }
        if (!keepDamagedStore(path, *previous, rc)) {
            return false;
        }
        if (!fs::writeFileAtomic(backup, *previous, kPrivateMode, &error)) {
            rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        }
    } else if (fs::exists(backup) && !fs::removeFile(backup, &error)) {
        rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
    }
    if (!writeJobStore(jobs).save(path, kPrivateMode, &error)) {
        rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        return false;
    }
    return true;
}

}  // namespace kestrel
