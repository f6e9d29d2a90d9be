// SPDX-License-Identifier: GPL-3.0-or-later
#include "runner/run_lock.h"

#include "platform/process.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// The note is "job=NAME" and "pid=N" on lines of their own.
std::string noteValue(const std::string& note, std::string_view key) {
    for (const std::string& line : text::split(note, '\n')) {
        if (text::startsWith(line, std::string(key) + "=")) {
            return line.substr(key.size() + 1);
        }
    }
    return "";
}

}  // namespace

RunLock::Result RunLock::acquire(const std::string& job, std::string* holder) {
    std::string error;
    switch (m_lock.tryLock(m_path, &error)) {
        case FileLock::Result::Acquired:
            m_lock.writeNote("job=" + job + "\npid=" + std::to_string(currentProcessId()) + "\n");
            return Result::Acquired;
        case FileLock::Result::Busy: {
            if (holder != nullptr) {
                const std::string note = FileLock::readNote(m_path);
                *holder = noteValue(note, "job") + ", process " + noteValue(note, "pid");
            }
            return Result::Busy;
        }
        case FileLock::Result::Failed:
            break;
    }
    if (holder != nullptr) {
        *holder = error;
    }
    return Result::Failed;
}

std::optional<std::string> RunLock::jobRunElsewhere() const {
    if (m_lock.held()) {
        return std::nullopt;
    }
    FileLock probe;
    if (probe.tryLock(m_path) != FileLock::Result::Busy) {
        return std::nullopt;
    }
    return noteValue(FileLock::readNote(m_path), "job");
}

}  // namespace kestrel
