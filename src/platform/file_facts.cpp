// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_facts.h"
#include "platform/status.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDelta = 11'644'473'600;

FileTime fromStatxTimestamp(const struct statx_timestamp& ts) {
    return toFileTime(
        PosixTime{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec)});
}

struct timespec toTimespec(FileTime t) {
    const PosixTime p = toPosixTime(t);
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(p.seconds);
    ts.tv_nsec = p.nanoseconds;
    return ts;
}

void setError(std::string* error, const std::string& what) {
    if (error != nullptr) {
        *error = Status::fromErrno(errno, what).text();
    }
}

}  // namespace

FileTime FileTime::fromTicks(std::int64_t ticks) {
    const auto bits = static_cast<std::uint64_t>(ticks);
    return FileTime{static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32)),
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xffffffffu))};
}

FileTime toFileTime(PosixTime t) {
    const std::int64_t seconds = t.seconds + kEpochDelta;
    if (seconds < 0) {
        return FileTime{};
    }
    return FileTime::fromTicks(seconds * kTicksPerSecond + t.nanoseconds / 100);
}

PosixTime toPosixTime(FileTime t) {
    std::int64_t ticks = t.ticks();
    if (ticks < 0) {
        ticks = 0;
    }
    return PosixTime{ticks / kTicksPerSecond - kEpochDelta,
                     static_cast<std::int32_t>((ticks % kTicksPerSecond) * 100)};
}

std::uint32_t attributesFor(unsigned mode, std::string_view name) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(mode)) {
        attributes |= kAttrDirectory;
    } else if (S_ISREG(mode)) {
        attributes |= kAttrArchive;
    }
    if ((mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    if (!name.empty() && name.front() == '.' && name != "." && name != "..") {
        attributes |= kAttrHidden;
    }
    return attributes;
}

std::optional<FileFacts> statFile(const std::string& path, bool followLinks, std::string* error) {
    struct statx stx {};
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
        setError(error, "cannot read the attributes of " + path);
        return std::nullopt;
    }
    FileFacts facts;
    const unsigned mode = stx.stx_mode;
    if (S_ISREG(mode)) {
        facts.kind = FileKind::Regular;
    } else if (S_ISDIR(mode)) {
        facts.kind = FileKind::Directory;
    } else if (S_ISLNK(mode)) {
        facts.kind = FileKind::Symlink;
    }
    facts.size = static_cast<std::int64_t>(stx.stx_size);
    facts.mode = mode & 07777;
    facts.uid = stx.stx_uid;
    facts.gid = stx.stx_gid;
    const size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    facts.attributes = attributesFor(mode, name);
    facts.lastAccessTime = fromStatxTimestamp(stx.stx_atime);
    facts.lastWriteTime = fromStatxTimestamp(stx.stx_mtime);
    facts.lastWriteNs = static_cast<std::uint8_t>(stx.stx_mtime.tv_nsec % 100);
    facts.creationTime = (stx.stx_mask & STATX_BTIME) ? fromStatxTimestamp(stx.stx_btime)
                                                      : fromStatxTimestamp(stx.stx_ctime);
    return facts;
}

std::optional<std::string> readLink(const std::string& path, std::string* error) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            setError(error, "cannot read the link " + path);
            return std::nullopt;
        }
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::uint32_t processUser() {
    return ::geteuid();
}

std::uint32_t processGroup() {
    return ::getegid();
}

bool mayChangeOwners() {
    return ::geteuid() == 0;
}

bool setFileTimes(const std::string& path, FileTime lastAccess, FileTime lastWrite,
                  std::string* error) {
    const struct timespec times[2] = {toTimespec(lastAccess), toTimespec(lastWrite)};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        setError(error, "cannot set the times of " + path);
        return false;
    }
    return true;
}

bool setReadOnly(const std::string& path, bool readOnly, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        setError(error, "cannot read the mode of " + path);
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    if (::chmod(path.c_str(), mode) != 0) {
        setError(error, "cannot change the mode of " + path);
        return false;
    }
    return true;
}

}  // namespace kestrel
