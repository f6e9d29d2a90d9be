// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jobs/backup.h"
#include "jobs/jobs.h"
#include "jobs/store_file.h"
#include "platform/date_time.h"
#include "platform/fs.h"

namespace kestrel {

class RunControl;

// The store as every process working in one program folder shares it. Reads need no lock: the
// file is only ever replaced whole, and a read writes nothing (unless a killed writer left a
// temporary file to remove). A change takes the store's lock (path + ".lock"), reads the
// store as it is on disk at that moment, applies itself by job name and writes the result, so
// that what another process changed meanwhile is kept.
class JobStore {
public:
    // What a change did to the jobs it was given.
    enum class Change { Done, Unchanged, NotFound, NameExists };
    // The outcome of update: Written, or why nothing was written.
    enum class Result { Written, Unchanged, NotFound, NameExists, Failed };

    JobStore(std::string path, RunControl& rc) : m_path(std::move(path)), m_rc(rc) {}

    const std::string& path() const { return m_path; }
    std::string lockPath() const { return m_path + ".lock"; }

    // Reads the store into jobs (replacing what they held). False when it cannot be read.
    [[nodiscard]] bool read(Jobs& jobs);
    // Applies change to the store as it is on disk now and writes the result when the change
    // says Done. jobs receives the store as it is afterwards (also when nothing was written,
    // unless it could not be read: Failed leaves jobs alone).
    [[nodiscard]] Result update(const std::function<Change(Jobs&)>& change, Jobs& jobs);

    // The changes the program makes, by job name.
    // Appends the job; NameExists when a job has that name in any letter case.
    [[nodiscard]] Result add(std::shared_ptr<clsBackup> job, Jobs& jobs);
    // Puts job in the place of the job named name (it may carry a new name); NotFound when that
    // job is gone, NameExists when the new name is another job's.
    [[nodiscard]] Result replace(const std::string& name, std::shared_ptr<clsBackup> job,
                                 Jobs& jobs);
    [[nodiscard]] Result remove(const std::string& name, Jobs& jobs);
    // A run's outcome; NotFound (nothing written) when the job was deleted meanwhile.
    [[nodiscard]] Result recordOutcome(const std::string& name, std::int32_t status,
                                       const DateTime& lastOK, Jobs& jobs);

    // Whether the file changed since this object last read or wrote it.
    bool changedOnDisk() const;
    // What the last read or change found in the store.
    StoreState state() const { return m_state; }

    // How long a change waits for another holder of the lock (10 s unless set).
    void setLockWait(int ms) { m_lockWaitMs = ms; }

private:
    std::vector<std::string> writeLeftovers() const;
    void removeWriteLeftovers();
    std::string m_path;
    RunControl& m_rc;
    fs::FileStamp m_seen;
    StoreState m_state = StoreState::Sound;
    int m_lockWaitMs = 10'000;
};

}  // namespace kestrel
