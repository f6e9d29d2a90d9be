// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_lock.h"
#include "platform/status.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

#include "platform/fs.h"

namespace kestrel {

FileLock::Result FileLock::tryLock(const std::string& path, std::string* error) {
    unlock();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        if (error != nullptr) {
            *error = Status::fromErrno(errno, "cannot open " + path).text();
        }
        return Result::Failed;
    }
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err == EWOULDBLOCK) {
            return Result::Busy;
        }
        if (error != nullptr) {
            *error = Status::fromErrno(err, "cannot lock " + path).text();
        }
        return Result::Failed;
    }
    m_fd = std::move(fd);
    return Result::Acquired;
}

FileLock::Result FileLock::lock(const std::string& path, int timeoutMs, std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Result r = tryLock(path, error);
        if (r != Result::Busy || std::chrono::steady_clock::now() >= deadline) {
            return r;
        }
        // Holders keep the locks this waits for only while they write a small file.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int FileLock::keepAcrossExec() {
    if (!m_fd.valid()) {
        return -1;
    }
    const int flags = ::fcntl(m_fd.get(), F_GETFD);
    if (flags < 0 || ::fcntl(m_fd.get(), F_SETFD, flags & ~FD_CLOEXEC) != 0) {
        return -1;
    }
    return m_fd.get();
}

bool FileLock::adopt(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    if (fd < 0 || ::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        return false;
    }
    // Taking a lock this open file already holds succeeds; one held elsewhere does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    unlock();
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) {
        (void)::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    m_fd.reset(fd);
    return true;
}

void FileLock::unlock() {
    m_fd.reset();  // closing the last descriptor drops the lock
}

bool FileLock::writeNote(std::string_view note) {
    if (!m_fd.valid() || ::ftruncate(m_fd.get(), 0) != 0) {
        return false;
    }
    size_t done = 0;
    while (done < note.size()) {
        const ssize_t n =
            ::pwrite(m_fd.get(), note.data() + done, note.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string FileLock::readNote(const std::string& path) {
    auto content = fs::readFile(path);
    return content ? *content : "";
}

}  // namespace kestrel
