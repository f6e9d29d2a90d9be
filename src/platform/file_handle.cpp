#include "platform/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace kestrel {

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_path(std::move(other.m_path)),
      m_lastError(std::move(other.m_lastError)),
      m_diskFull(other.m_diskFull) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_lastError = std::move(other.m_lastError);
        m_diskFull = other.m_diskFull;
    }
    return *this;
}

void FileHandle::fail(const char* what) {
    const int err = errno;
    m_diskFull = err == ENOSPC || err == EDQUOT;
    m_lastError = std::string(what) + " " + m_path + ": " + ::strerror(err);
}

bool FileHandle::open(const std::string& path, Mode mode, bool regularOnly, std::string* error) {
    close();
    m_path = path;
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read:
            flags |= O_RDONLY;
            break;
        case Mode::Write:
            flags |= O_WRONLY | O_CREAT;
            break;
        case Mode::ReadWrite:
            flags |= O_RDWR | O_CREAT;
            break;
    }
    if (regularOnly) {
        flags |= O_NONBLOCK;
    }
    // What the program writes (volumes, catalogues, downloads) may hold another's private
    // files: no one else reads it.
    m_fd = ::open(path.c_str(), flags, 0600);
    if (m_fd < 0) {
        fail("cannot open");
        if (error != nullptr) {
            *error = m_lastError;
        }
        return false;
    }
    if (regularOnly) {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_lastError = "not a regular file: " + path;
            if (error != nullptr) {
                *error = m_lastError;
            }
            close();
            return false;
        }
        // O_NONBLOCK has no effect on a regular file: it can stay.
    }
    return true;
}

bool FileHandle::createBeside(const std::string& targetPath, std::string* tempPath,
                              std::string* error) {
    close();
    std::string tmpl = targetPath + ".kestrel-XXXXXX";
    m_fd = ::mkstemp(tmpl.data());
    m_path = tmpl;
    if (m_fd < 0) {
        m_path = targetPath;
        fail("cannot create a file beside");
        if (error != nullptr) {
            *error = m_lastError;
        }
        return false;
    }
    ::fcntl(m_fd, F_SETFD, FD_CLOEXEC);
    *tempPath = tmpl;
    return true;
}

bool FileHandle::adopt(int fd, const std::string& pathForMessages) {
    close();
    m_fd = fd;
    m_path = pathForMessages;
    m_lastError.clear();
    m_diskFull = false;
    return m_fd >= 0;
}

bool FileHandle::setMode(unsigned mode) {
    if (m_fd < 0 || ::fchmod(m_fd, static_cast<mode_t>(mode)) != 0) {
        fail("cannot set the mode of");
        return false;
    }
    return true;
}

void FileHandle::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::int64_t FileHandle::readAt(void* buffer, std::int64_t count, std::int64_t pos) {
    if (m_fd < 0 || count < 0 || pos < 0) {
        return -1;
    }
    auto* p = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd, p + done, static_cast<size_t>(count - done),
                                  static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read");
            return done > 0 ? done : -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

std::int64_t FileHandle::writeAt(const void* buffer, std::int64_t count, std::int64_t pos) {
    if (m_fd < 0 || count < 0 || pos < 0) {
        return 0;
    }
    const auto* p = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_fd, p + done, static_cast<size_t>(count - done),
                                   static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write");
            break;
        }
        done += n;
    }
    return done;
}

std::optional<std::int64_t> FileHandle::size() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool FileHandle::truncate(std::int64_t size) {
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        fail("cannot truncate");
        return false;
    }
    return true;
}

bool FileHandle::sync() {
    if (m_fd < 0 || ::fsync(m_fd) != 0) {
        fail("cannot flush");
        return false;
    }
    return true;
}

bool FileHandle::setTimes(FileTime lastAccess, FileTime lastWrite) {
    const PosixTime a = toPosixTime(lastAccess);
    const PosixTime w = toPosixTime(lastWrite);
    struct timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(a.seconds);
    times[0].tv_nsec = a.nanoseconds;
    times[1].tv_sec = static_cast<time_t>(w.seconds);
    times[1].tv_nsec = w.nanoseconds;
    if (m_fd < 0 || ::futimens(m_fd, times) != 0) {
        fail("cannot set the times of");
        return false;
    }
    return true;
}

}  // namespace kestrel
