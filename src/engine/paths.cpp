// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/paths.h"

#include <cstdio>

#include "core/messages.h"
#include "platform/file_facts.h"
#include "platform/text.h"

namespace kestrel {

std::string SplitPath(std::string_view fullPath, std::string* folder) {
    const size_t pos = fullPath.find_last_of("\\/");
    if (pos == std::string_view::npos || pos + 1 >= fullPath.size()) {
        return "";
    }
    if (folder != nullptr) {
        *folder = std::string(fullPath.substr(0, pos + 1));
    }
    return std::string(fullPath.substr(pos + 1));
}

std::string_view withoutDrive(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        return path.substr(2);
    }
    return path;
}

SizeWords sizeWordsOf(const Messages& messages) {
    SizeWords words;
    words.bytes = messages.GetMessage("strMsgBytes");
    // Two characters: the thousands separator, then the decimal one.
    const std::string separators = messages.GetMessage("strMsgDigitSeparators");
    if (separators.size() == 2) {
        words.thousands = separators[0];
        words.decimal = separators[1];
    }
    return words;
}

std::string FormatSize(std::int64_t bytes, const SizeWords& words) {
    const double g = static_cast<double>(bytes) / 1073741824.0;
    const double m = static_cast<double>(bytes % 1073741824) / 1048576.0;
    const double k = static_cast<double>(bytes % 1048576) / 1024.0;
    auto format = [&words](double v, const char* unit) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.2f", v);
        std::string number = text::groupThousands(buf);  // "##,##0.00"
        for (char& c : number) {
            c = c == ',' ? words.thousands : c == '.' ? words.decimal : c;
        }
        return number + unit;
    };
    if (g > 1) {
        return format(g, " Gb");
    }
    if (m > 1) {
        return format(m, " Mb");
    }
    if (k > 1) {
        return format(k, " Kb");
    }
    return std::to_string(bytes) + words.bytes;
}

std::int32_t SetAttributes(const std::string& path, std::int64_t attributes) {
    return setReadOnly(path, (attributes & kAttrReadOnly) != 0) ? 1 : 0;
}

std::string AppendNul(std::string_view s) {
    std::string out(s);
    out += '\0';
    return out;
}

}  // namespace kestrel
