// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

void FileHandle::fail(const char* what) {
    m_status = Status::fromErrno(errno, std::string(what) + " " + m_path);
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
    m_fd.reset(::open(path.c_str(), flags, 0600));
    if (!m_fd.valid()) {
        fail("cannot open");
        if (error != nullptr) {
            *error = m_status.text();
        }
        return false;
    }
    if (regularOnly) {
        struct stat st {};
        if (::fstat(m_fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_status = Status::failure("not a regular file: " + path);
            if (error != nullptr) {
                *error = m_status.text();
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
    m_fd.reset(::mkstemp(tmpl.data()));
    m_path = tmpl;
    if (!m_fd.valid()) {
        m_path = targetPath;
        fail("cannot create a file beside");
        if (error != nullptr) {
            *error = m_status.text();
        }
        return false;
    }
    ::fcntl(m_fd.get(), F_SETFD, FD_CLOEXEC);
    *tempPath = tmpl;
    return true;
}

bool FileHandle::adopt(int fd, const std::string& pathForMessages) {
    close();
    m_fd.reset(fd);
    m_path = pathForMessages;
    m_status = Status();
    return m_fd.valid();
}

bool FileHandle::setMode(unsigned mode) {
    if (!m_fd.valid() || ::fchmod(m_fd.get(), static_cast<mode_t>(mode)) != 0) {
        fail("cannot set the mode of");
        return false;
    }
    return true;
}

void FileHandle::close() {
    m_fd.reset();
}

std::int64_t FileHandle::readAt(void* buffer, std::int64_t count, std::int64_t pos) {
    if (!m_fd.valid() || count < 0 || pos < 0) {
        return -1;
    }
    auto* p = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd.get(), p + done, static_cast<size_t>(count - done),
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
    if (!m_fd.valid() || count < 0 || pos < 0) {
        return 0;
    }
    const auto* p = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_fd.get(), p + done, static_cast<size_t>(count - done),
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
    if (!m_fd.valid() || ::fstat(m_fd.get(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<FileHandle::Owner> FileHandle::owner() const {
    struct stat st {};
    if (!m_fd.valid() || ::fstat(m_fd.get(), &st) != 0) {
        return std::nullopt;
    }
    return Owner{static_cast<std::uint32_t>(st.st_mode & 07777),
                 static_cast<std::uint32_t>(st.st_uid), static_cast<std::uint32_t>(st.st_gid)};
}

bool FileHandle::readLines(const std::function<bool(const text::Line&)>& take) {
    // Pieces of the file with the unfinished line of the last one in front.
    constexpr std::int64_t kPiece = 1 << 20;
    std::string buffer;
    std::int64_t pos = 0;
    size_t number = 0;
    for (;;) {
        const size_t kept = buffer.size();
        buffer.resize(kept + static_cast<size_t>(kPiece));
        const std::int64_t got = readAt(buffer.data() + kept, kPiece, pos);
        if (got < 0) {
            return false;
        }
        buffer.resize(kept + static_cast<size_t>(got));
        pos += got;
        const bool atEnd = got == 0;
        std::string_view rest(buffer);
        for (;;) {
            const size_t end = rest.find('\n');
            if (end == std::string_view::npos && !(atEnd && !rest.empty())) {
                break;
            }
            text::Line line;
            line.terminated = end != std::string_view::npos;
            line.text = rest.substr(0, line.terminated ? end : rest.size());
            rest.remove_prefix(line.terminated ? end + 1 : rest.size());
            line.number = ++number;
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.remove_suffix(1);
            }
            if (!take(line)) {
                return true;
            }
        }
        if (atEnd) {
            return true;
        }
        buffer.erase(0, buffer.size() - rest.size());
    }
}

bool FileHandle::truncate(std::int64_t size) {
    if (!m_fd.valid() || ::ftruncate(m_fd.get(), static_cast<off_t>(size)) != 0) {
        fail("cannot truncate");
        return false;
    }
    return true;
}

bool FileHandle::sync() {
    if (!m_fd.valid() || ::fsync(m_fd.get()) != 0) {
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
    if (!m_fd.valid() || ::futimens(m_fd.get(), times) != 0) {
        fail("cannot set the times of");
        return false;
    }
    return true;
}

}  // namespace kestrel
