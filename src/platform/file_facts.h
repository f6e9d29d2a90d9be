// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A file time as the stored formats carry it: 100-nanosecond ticks since 1601-01-01 UTC, split
// into two signed 32-bit halves (the bit patterns of the high and low 32 bits).
struct FileTime {
    std::int32_t high = 0;
    std::int32_t low = 0;

    std::int64_t ticks() const {
        return static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
            static_cast<std::uint32_t>(low));
    }
    static FileTime fromTicks(std::int64_t ticks);
    bool operator==(const FileTime&) const = default;
};

struct PosixTime {
    std::int64_t seconds = 0;      // since 1970-01-01 UTC
    std::int32_t nanoseconds = 0;  // 0..999,999,999
    bool operator==(const PosixTime&) const = default;
};

// Conversions keep the 100 ns resolution of file times; times before 1601 become 1601.
FileTime toFileTime(PosixTime t);
PosixTime toPosixTime(FileTime t);

// File attribute bits as the stored formats carry them.
inline constexpr std::uint32_t kAttrReadOnly = 1;
inline constexpr std::uint32_t kAttrHidden = 2;
inline constexpr std::uint32_t kAttrDirectory = 16;
inline constexpr std::uint32_t kAttrArchive = 32;

// The attribute bits of a POSIX file: directory for folders, archive for regular files,
// read-only when the owner cannot write, hidden for names that start with ".".
std::uint32_t attributesFor(unsigned mode, std::string_view name);

enum class FileKind { Regular, Directory, Symlink, Other };

// What the program needs to know of one file system entry.
struct FileFacts {
    FileKind kind = FileKind::Other;
    std::int64_t size = 0;
    unsigned mode = 0;  // permission bits (with set-id and sticky bits)
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t attributes = 0;
    FileTime creationTime;  // birth time where the file system records one, else change time
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    std::uint8_t lastWriteNs = 0;  // the nanoseconds below lastWriteTime's 100 (0..99)
};

// Facts of the entry at path. followLinks false describes a symbolic link itself.
std::optional<FileFacts> statFile(const std::string& path, bool followLinks = true,
                                  std::string* error = nullptr);

// The target a symbolic link holds, as it stands; nothing (with *error) when path is no link.
std::optional<std::string> readLink(const std::string& path, std::string* error = nullptr);

// This process's user and group, and whether it may give files to any owner (root).
std::uint32_t processUser();
std::uint32_t processGroup();
bool mayChangeOwners();

// Sets last-access and last-write times with full precision.
[[nodiscard]] bool setFileTimes(const std::string& path, FileTime lastAccess, FileTime lastWrite,
                                std::string* error = nullptr);
// Maps the read-only bit back: set clears every write bit, clear gives the owner write access.
[[nodiscard]] bool setReadOnly(const std::string& path, bool readOnly,
                               std::string* error = nullptr);

}  // namespace kestrel
