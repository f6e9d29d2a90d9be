// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace kestrel {

// An exclusive advisory lock on a lock file (flock), held while the object lives. Every open of
// the lock file is a holder of its own, so two objects conflict as two processes do. The system
// drops the lock when its holder ends, so a crash never leaves it held.
class FileLock {
public:
    enum class Result { Acquired, Busy, Failed };

    FileLock() = default;
    FileLock(FileLock&& other) noexcept = default;
    FileLock& operator=(FileLock&& other) noexcept = default;

    // Takes the lock on path (the file is created, mode 0600, when missing) without waiting:
    // Busy when another holder has it, Failed (with *error) when the file cannot be opened.
    [[nodiscard]] Result tryLock(const std::string& path, std::string* error = nullptr);
    // The same, waiting up to timeoutMs for another holder to let go.
    [[nodiscard]] Result lock(const std::string& path, int timeoutMs, std::string* error = nullptr);
    bool held() const { return m_fd.valid(); }
    void unlock();

    // Keeps the lock across an exec of this process: the descriptor is left open for the new
    // program image, which takes it back with adopt(). Returns the descriptor, -1 when not held.
    int keepAcrossExec();
    // Takes over the descriptor of the lock on path that this process held before an exec. False
    // (and nothing taken) when fd is not an open descriptor of that very file or not locked.
    [[nodiscard]] bool adopt(int fd, const std::string& path);

    // Replaces the lock file's content with a short note on the holder, for the messages of
    // those who find the lock busy. Only while held.
    bool writeNote(std::string_view note);
    // The note in a lock file ("" when there is none).
    static std::string readNote(const std::string& path);

private:
    UniqueFd m_fd;
};

}  // namespace kestrel
