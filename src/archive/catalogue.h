// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sums.h"
#include "platform/date_time.h"
#include "platform/file_facts.h"

namespace kestrel {

// One line of a catalogue: where an archived file's blocks lie and what it was.
struct clsRestoreFileData {
    std::string arcStart;
    std::string arcEnd;
    std::string fname;
    std::int64_t size = 0;
    std::string crc;
    std::int64_t soffs = 0;
    std::int64_t dendoffset = 0;
    std::int64_t recsize = 0;
    std::int64_t Attrib = 0;
    DateTime dSession;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;

    void tCreationTimeSet(std::int32_t high, std::int32_t low) { creationTime = {high, low}; }
    void tLastAccessTimeSet(std::int32_t high, std::int32_t low) { lastAccessTime = {high, low}; }
    void tLastWriteTimeSet(std::int32_t high, std::int32_t low) { lastWriteTime = {high, low}; }
    FileTime tCreationTimeGet() const { return creationTime; }
    FileTime tLastAccessTimeGet() const { return lastAccessTime; }
    FileTime tLastWriteTimeGet() const { return lastWriteTime; }

    // Set by the catalogue reader: the digest of the line's text and the line's number among
    // the catalogue's non-blank lines (from 0), which the checksum file refers to.
    Digest lineDigest{};
    size_t lineIndex = 0;
    // Set by the restore: which of the job's catalogues the line came from (a job may have
    // kept catalogues beside its own).
    std::uint32_t source = 0;
};

// A catalogue as read: its records in file order and the numbers (from 1) of the lines that
// were damaged and skipped.
struct Catalogue {
    std::vector<clsRestoreFileData> records;
    std::vector<size_t> skippedLines;
};

// What a pass over a catalogue saw besides its records.
struct CatalogueScan {
    std::vector<size_t> skippedLines;  // damaged lines, numbered from 1
    size_t lines = 0;                  // non-blank lines
    bool cutShort = false;             // the last line lacks its line end
};
using CatalogueVisitor = std::function<void(clsRestoreFileData&&)>;

// Reads a catalogue file piece by piece, never whole, and hands every record that can be used
// to visit in file order (the damaged lines as ReadCatalogue skips them). Nothing when the file
// cannot be read (*error says why).
std::optional<CatalogueScan> scanCatalogue(const std::string& path, const CatalogueVisitor& visit,
                                           std::string* error = nullptr);

// Reads a catalogue file line by line (CR LF or LF). A damaged line is skipped and noted: one
// ParseCatalogueLine refuses, one that lacks a key a writer always writes or its line end, or
// whose offsets do not fit its size. Nothing when the file cannot be read (*error says why).
std::optional<Catalogue> ReadCatalogue(const std::string& path, std::string* error = nullptr);
// The same for catalogue text already in memory.
Catalogue parseCatalogue(std::string_view content);

// One catalogue line; nothing when it is damaged (a part without "=", a number or time that
// cannot be read). fname is the text between the first "|fname=" and the last "|size=", so a
// path may hold "|" and ",". Missing keys leave their fields empty; *complete tells whether
// every key was there.
std::optional<clsRestoreFileData> ParseCatalogueLine(std::string_view line,
                                                     bool* complete = nullptr);
// Whether a complete record's fields fit together as a writer puts them.
bool plausibleRecord(const clsRestoreFileData& rec);
// The number of non-blank lines of a catalogue's text.
size_t countCatalogueLines(std::string_view content);

// "high/low" -> the two halves; without "/" both are 0. Nothing when a half is not a 32-bit
// signed number.
std::optional<FileTime> ParseTimePair(std::string_view text);
// "yyyyMMddhhmmss" -> date and time; out-of-range parts roll over as calendar arithmetic does.
// Nothing when the text is not 14 digits.
std::optional<DateTime> ParseSessionStamp(std::string_view text);

}  // namespace kestrel
