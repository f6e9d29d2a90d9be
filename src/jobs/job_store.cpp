// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/job_store.h"

#include "core/run_control.h"
#include "platform/file_lock.h"
#include "platform/text.h"

namespace kestrel {

// Temporary files of store writes that a killed process never renamed (backups.ini.tmp-XXXXXX,
// backups.ini.bak.tmp-XXXXXX).
std::vector<std::string> JobStore::writeLeftovers() const {
    const std::string folder = fs::parentOf(m_path);
    const std::string name = fs::fileNameOf(m_path);
    std::vector<std::string> found;
    auto entries = fs::listDir(folder);
    if (!entries) {
        return found;
    }
    for (const std::string& entry : *entries) {
        std::string stem;
        if (fs::isAtomicWriteLeftover(entry, &stem) && text::startsWith(stem, name)) {
            found.push_back(fs::join(folder, entry));
        }
    }
    return found;
}

// Only called under the store's lock, when no write is under way.
void JobStore::removeWriteLeftovers() {
    for (const std::string& path : writeLeftovers()) {
        if (fs::isRegularFile(path) && fs::removeFile(path)) {
            m_rc.WriteLog(m_rc.format("strMsgLeftoverRemoved", {{"%d", path}}));
        }
    }
}

bool JobStore::read(Jobs& jobs) {
    // Only a leftover is worth the lock: a plain read creates no file.
    if (!writeLeftovers().empty()) {
        FileLock lock;
        if (lock.lock(lockPath(), 0, nullptr) == FileLock::Result::Acquired) {
            removeWriteLeftovers();
        }
    }
    m_seen = fs::stampOf(m_path);
    Jobs fresh;
    if (!LoadJobs(m_path, fresh, m_rc, &m_state)) {
        return false;
    }
    jobs = std::move(fresh);
    return true;
}

JobStore::Result JobStore::update(const std::function<Change(Jobs&)>& change, Jobs& jobs) {
    FileLock lock;
    std::string error;
    if (lock.lock(lockPath(), m_lockWaitMs, &error) != FileLock::Result::Acquired) {
        if (error.empty()) {
            error = "another program keeps the job store locked (" + lockPath() + ")";
        }
        m_rc.WriteLog(m_rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        return Result::Failed;
    }
    removeWriteLeftovers();
    const fs::FileStamp before = fs::stampOf(m_path);
    Jobs fresh;
    if (!LoadJobs(m_path, fresh, m_rc, &m_state)) {
        return Result::Failed;
    }
    const Change done = change(fresh);
    Result result = Result::Written;
    switch (done) {
        case Change::Done:
            if (!SaveJobs(m_path, fresh, m_rc)) {
                return Result::Failed;
            }
            m_seen = fs::stampOf(m_path);
            m_state = StoreState::Sound;
            break;
        case Change::Unchanged:
            result = Result::Unchanged;
            m_seen = before;
            break;
        case Change::NotFound:
            result = Result::NotFound;
            m_seen = before;
            break;
        case Change::NameExists:
            result = Result::NameExists;
            m_seen = before;
            break;
    }
    jobs = std::move(fresh);
    return result;
}

JobStore::Result JobStore::add(std::shared_ptr<clsBackup> job, Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            if (on.indexOfAnyCase(job->sName) >= 0) {
                return Change::NameExists;
            }
            on.append(job);
            return Change::Done;
        },
        jobs);
}

JobStore::Result JobStore::replace(const std::string& name, std::shared_ptr<clsBackup> job,
                                   Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            const std::ptrdiff_t at = on.indexOf(name);
            if (at < 0) {
                return Change::NotFound;
            }
            const std::ptrdiff_t clash = on.indexOfAnyCase(job->sName);
            if (clash >= 0 && clash != at) {
                return Change::NameExists;
            }
            on.replaceAt(static_cast<size_t>(at), job);
            return Change::Done;
        },
        jobs);
}

JobStore::Result JobStore::remove(const std::string& name, Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            const std::ptrdiff_t at = on.indexOf(name);
            if (at < 0) {
                return Change::NotFound;
            }
            on.removeAt(static_cast<size_t>(at));
            return Change::Done;
        },
        jobs);
}

JobStore::Result JobStore::recordOutcome(const std::string& name, std::int32_t status,
                                         const DateTime& lastOK, Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            clsBackup* job = on.find(name);
            if (job == nullptr) {
                return Change::NotFound;
            }
            job->enumStatus = status;
            job->lastOK = lastOK;
            return Change::Done;
        },
        jobs);
}

bool JobStore::changedOnDisk() const {
    return !(fs::stampOf(m_path) == m_seen);
}

}  // namespace kestrel
