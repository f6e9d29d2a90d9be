// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Path and text routines the engine, the restore and the user interface share.
namespace kestrel {

// The file-name part of a path (after the last "\" or "/"); "" when the path ends in a
// separator or has none. *folder, when given and a name was found, receives the part up to
// and including that separator.
std::string SplitPath(std::string_view fullPath, std::string* folder = nullptr);

// The path without its drive: "C:" in front of a Windows path; POSIX paths have none.
std::string_view withoutDrive(std::string_view path);

class Messages;

// How the user's language writes a size: the word after a byte count, the digit separators.
struct SizeWords {
    std::string bytes = " bytes";
    char thousands = ',';
    char decimal = '.';
};
SizeWords sizeWordsOf(const Messages& messages);

// A size for display: " bytes", " Kb", " Mb" or " Gb" with two decimals ("1.50 Mb").
std::string FormatSize(std::int64_t bytes, const SizeWords& words = {});

// Sets a file's attribute bits where POSIX has them (read-only); non-zero on success.
std::int32_t SetAttributes(const std::string& path, std::int64_t attributes);

// The text followed by one NUL character.
std::string AppendNul(std::string_view s);

}  // namespace kestrel
