// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/date_time.h"
#include "platform/file_facts.h"

// The archive container's on-disk format: volumes (".uxarc") of fixed-size blocks, each archived
// file followed by one descriptor block, and the catalogue (".fs"), one text line per file.
namespace kestrel {

inline constexpr std::string_view kVolumeExtension = ".uxarc";
inline constexpr std::string_view kCatalogueExtension = ".fs";

// The block size of a file of the given size: 512 below 102,400 bytes, 1,024 below 256,000,
// 2,048 below 512,000, 4,096 below 1,048,576, 16,384 below 10,485,760, else kMaxRecSize.
std::int64_t ChooseRecSize(std::int64_t size);
// No writer uses larger blocks, so a catalogue line naming one is damaged.
inline constexpr std::int64_t kMaxRecSize = 28'672;

// The archive checksum: the byte-wise XOR of a file's 4-byte groups (the last block padded with
// NUL bytes). Not a CRC.
class FoldChecksum {
public:
    // Folds a block whose length is a multiple of 4 (every record size is).
    void fold(std::string_view block);
    const std::array<unsigned char, 4>& state() const { return m_state; }
    // The four state bytes as a 4-character string (as the in-memory record keeps them).
    std::string bytes() const;

private:
    std::array<unsigned char, 4> m_state{};
};

// Eight upper-case hexadecimal digits, state byte 0 first, high nibble first.
std::string ChecksumToHex(std::string_view fourBytes);

// One archived file on the writer side.
struct clsArchiveFileData {
    std::string sFileName;
    std::int64_t dSize = 0;
    std::string crc32;  // the four checksum bytes
    std::int64_t dStartOffset = 0;
    std::int64_t dEndOffset = 0;
    std::string sArchiveStart;
    std::string sArchiveEnd;
    DateTime AddDate;
    std::int64_t dAttributes = 0;
    std::int64_t RecSize = 0;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;

    void tCreationTimeSet(std::int32_t high, std::int32_t low) { creationTime = {high, low}; }
    void tLastAccessTimeSet(std::int32_t high, std::int32_t low) { lastAccessTime = {high, low}; }
    void tLastWriteTimeSet(std::int32_t high, std::int32_t low) { lastWriteTime = {high, low}; }
};

// The text of a file's descriptor block (before its NUL padding), cut as the format prescribes
// so that it never exceeds 322 characters.
std::string descriptorText(const clsArchiveFileData& file);

// The catalogue line of a file, without its CR LF.
std::string catalogueLine(const DateTime& session, const clsArchiveFileData& file);

// "high/low" of a file time, each half as a signed decimal.
std::string timePairText(const FileTime& t);

// Volume names: the number of a volume base name (after its first "-", 0 without one) and the
// name of the volume that follows it (the text before the first "-", "-", the next number in
// at least three digits).
int volumeNumber(std::string_view baseName);
std::string nextVolumeName(std::string_view baseName);

}  // namespace kestrel
