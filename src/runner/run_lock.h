// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "platform/file_lock.h"

namespace kestrel {

// The program folder's run lock (run.lock): held by whichever process runs a backup there, so
// that two runs never share the temporary folder. The lock file names the holder's job and
// process for those who find it taken.
class RunLock {
public:
    enum class Result { Acquired, Busy, Failed };

    explicit RunLock(std::string path) : m_path(std::move(path)) {}

    // Takes the lock for a run of job without waiting. Busy: another process holds it
    // (*holder: its job and process); Failed: the lock file cannot be used (*holder: why).
    [[nodiscard]] Result acquire(const std::string& job, std::string* holder);
    void release() { m_lock.unlock(); }
    bool held() const { return m_lock.held(); }

    // The job another holder of the lock is running; nothing when nobody else holds it.
    std::optional<std::string> jobRunElsewhere() const;

private:
    std::string m_path;
    FileLock m_lock;
};

}  // namespace kestrel
