// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/date_time.h"
#include "platform/file_facts.h"

namespace kestrel {

// One file on disk as the engine lists it: name, folder, size, attributes and three times.
struct clsDskFile {
    std::string filename;  // without folder
    std::string path;      // folder, ending in a separator; path + filename is the full name
    DateTime dDate;
    std::int64_t dSize = 0;
    std::int64_t dAttrib = 0;
    bool backupSuccess = false;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    // The nanoseconds below lastWriteTime's 100 (0..99), where the listing read them: what an
    // unchanged copy at the destination must match too.
    std::uint8_t lastWriteNs = 0;
    // Mode (permission, set-id and sticky bits), owner and group where the listing read them.
    bool hasPosix = false;
    std::uint32_t posixMode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;

    std::string fullName() const { return path + filename; }

    void tCreationTimeSet(std::int32_t high, std::int32_t low) { creationTime = {high, low}; }
    void tLastAccessTimeSet(std::int32_t high, std::int32_t low) { lastAccessTime = {high, low}; }
    void tLastWriteTimeSet(std::int32_t high, std::int32_t low) { lastWriteTime = {high, low}; }

    // The record of an existing file or folder, with its facts read from disk; nothing when it
    // cannot be examined.
    static std::optional<clsDskFile> fromPath(const std::string& fullPath);
};

}  // namespace kestrel
