#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/fs.h"

namespace kestrel {

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        unlock();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FileLock::Result FileLock::tryLock(const std::string& path, std::string* error) {
    unlock();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error != nullptr) {
            *error = "cannot open " + path + ": " + ::strerror(errno);
        }
        return Result::Failed;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        ::close(fd);
        if (err == EWOULDBLOCK) {
            return Result::Busy;
        }
        if (error != nullptr) {
            *error = "cannot lock " + path + ": " + ::strerror(err);
        }
        return Result::Failed;
    }
    m_fd = fd;
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

void FileLock::unlock() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the last descriptor drops the lock
        m_fd = -1;
    }
}

bool FileLock::writeNote(std::string_view note) {
    if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0) {
        return false;
    }
    size_t done = 0;
    while (done < note.size()) {
        const ssize_t n =
            ::pwrite(m_fd, note.data() + done, note.size() - done, static_cast<off_t>(done));
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
