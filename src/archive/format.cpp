// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/format.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kestrel {
namespace {

std::string zeroPadded(std::int64_t value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(value));
    return buf;
}

void cutTo(std::string& s, size_t length) {
    if (s.size() > length) {
        s.resize(length);
    }
}

}  // namespace

std::int64_t ChooseRecSize(std::int64_t size) {
    if (size < 102'400) {
        return 512;
    }
    if (size < 256'000) {
        return 1'024;
    }
    if (size < 512'000) {
        return 2'048;
    }
    if (size < 1'048'576) {
        return 4'096;
    }
    if (size < 10'485'760) {
        return 16'384;
    }
    return kMaxRecSize;
}

void FoldChecksum::fold(std::string_view block) {
    // Eight bytes at a time: bytes k and k + 4 of each word land on state byte k.
    std::uint64_t wide = 0;
    size_t i = 0;
    for (; i + 8 <= block.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, block.data() + i, 8);
        wide ^= word;
    }
    unsigned char bytes[8];
    std::memcpy(bytes, &wide, 8);
    for (size_t k = 0; k < 4; ++k) {
        m_state[k] ^= bytes[k] ^ bytes[k + 4];
    }
    for (; i + 4 <= block.size(); i += 4) {
        for (size_t k = 0; k < 4; ++k) {
            m_state[k] ^= static_cast<unsigned char>(block[i + k]);
        }
    }
}

std::string FoldChecksum::bytes() const {
    return std::string(reinterpret_cast<const char*>(m_state.data()), m_state.size());
}

std::string ChecksumToHex(std::string_view fourBytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t k = 0; k < 4; ++k) {
        const auto b = k < fourBytes.size() ? static_cast<unsigned char>(fourBytes[k]) : 0;
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string descriptorText(const clsArchiveFileData& file) {
    std::string text = file.sFileName;
    cutTo(text, 255);
    text += zeroPadded(file.dSize, 12);
    cutTo(text, 267);
    text += ChecksumToHex(file.crc32);
    cutTo(text, 275);
    text += zeroPadded(file.dStartOffset, 14);
    cutTo(text, 281);
    text += zeroPadded(file.dEndOffset, 14);
    cutTo(text, 295);
    text += file.AddDate.format("yyyyMMddHHmmss");
    cutTo(text, 309);
    text += zeroPadded(file.dAttributes, 13);
    return text;
}

std::string timePairText(const FileTime& t) {
    return std::to_string(t.high) + "/" + std::to_string(t.low);
}

std::string catalogueLine(const DateTime& session, const clsArchiveFileData& file) {
    return "dSession=" + session.format("yyyyMMddHHmmss") +
           "|RecSize=" + std::to_string(file.RecSize) + "|arcStart=" + file.sArchiveStart +
           "|sOffs=" + std::to_string(file.dStartOffset) + "|arcEnd=" + file.sArchiveEnd +
           "|dEndOffset=" + std::to_string(file.dEndOffset) + "|fname=" + file.sFileName +
           "|size=" + std::to_string(file.dSize) + "|crc=" + ChecksumToHex(file.crc32) +
           "|Attrib=" + std::to_string(file.dAttributes) +
           "|dCT=" + timePairText(file.creationTime) +
           "|dLAt=" + timePairText(file.lastAccessTime) +
           "|dLWt=" + timePairText(file.lastWriteTime);
}

int volumeNumber(std::string_view baseName) {
    const size_t dash = baseName.find('-');
    if (dash == std::string_view::npos) {
        return 0;
    }
    return static_cast<int>(text::leadingInt(baseName.substr(dash + 1)));
}

std::string nextVolumeName(std::string_view baseName) {
    const size_t dash = baseName.find('-');
    const std::string_view stem =
        dash == std::string_view::npos ? baseName : baseName.substr(0, dash);
    char number[16];
    std::snprintf(number, sizeof number, "%03d", volumeNumber(baseName) + 1);
    return std::string(stem) + "-" + number;
}

}  // namespace kestrel
