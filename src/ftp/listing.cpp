// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/listing.h"

#include <cctype>

#include "platform/text.h"

namespace kestrel {
namespace {

bool isMonth(std::string_view s) {
    static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};
    for (const char* m : kMonths) {
        if (text::iequals(s, m)) {
            return true;
        }
    }
    return false;
}

bool allDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// "drwxr-xr-x 2 owner group 4096 Jan 05 14:30 name with blanks"
bool parseLongFormat(std::string_view line, clsFTPFile& entry) {
    size_t pos = 0;
    std::string_view fields[8];
    for (auto& field : fields) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        const size_t start = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') {
            ++pos;
        }
        if (start == pos) {
            return false;
        }
        field = line.substr(start, pos - start);
    }
    // After the time or year exactly one blank separates the name, which may begin with blanks.
    if (pos >= line.size() || line[pos] != ' ') {
        return false;
    }
    const std::string_view name = line.substr(pos + 1);
    const std::string_view perms = fields[0];
    if (perms.size() < 10 || std::string_view("-dlcbps").find(perms[0]) == std::string_view::npos ||
        !allDigits(fields[1]) || !allDigits(fields[4]) || !isMonth(fields[5]) ||
        !allDigits(fields[6]) || name.empty()) {
        return false;
    }
    entry.rights = std::string(perms);
    entry.bDir = perms[0] == 'd';
    entry.dSize = text::parseInt(fields[4]).value_or(0);
    entry.strDate =
        std::string(fields[5]) + " " + std::string(fields[6]) + " " + std::string(fields[7]);
    entry.strName = std::string(name);
    return true;
}

}  // namespace

void ParseListing(std::string& block, std::vector<clsFTPFile>& list) {
    size_t start = 0;
    for (;;) {
        const size_t end = block.find('\n', start);
        if (end == std::string::npos) {
            break;
        }
        std::string_view line(block.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        clsFTPFile entry;
        if (!parseLongFormat(line, entry)) {
            entry.strName = line.size() >= 56 ? std::string(text::trimSpace(line.substr(55))) : "";
            entry.bDir = line.front() == 'd';
        }
        list.push_back(std::move(entry));
    }
    block.erase(0, start);
}

}  // namespace kestrel
