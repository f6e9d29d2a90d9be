// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text.h"

#include <charconv>
#include <limits>

namespace kestrel::text {

char toUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char toLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = toUpper(c);
    }
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = toLower(c);
    }
    return out;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (toLower(a[i]) != toLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

namespace {
std::string_view trimWhere(std::string_view s, std::string_view chars) {
    const size_t first = s.find_first_not_of(chars);
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = s.find_last_not_of(chars);
    return s.substr(first, last - first + 1);
}
}  // namespace

std::string_view trimBlanks(std::string_view s) {
    return trimWhere(s, " ");
}
std::string_view trimSpace(std::string_view s) {
    return trimWhere(s, " \t");
}

bool hasControlCharacters(std::string_view s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            parts.emplace_back(s.substr(start));
            return parts;
        }
        parts.emplace_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

bool LineReader::next(Line& line) {
    if (m_rest.empty()) {
        return false;
    }
    const size_t end = m_rest.find('\n');
    line.terminated = end != std::string_view::npos;
    line.text = m_rest.substr(0, line.terminated ? end : m_rest.size());
    m_rest.remove_prefix(line.terminated ? end + 1 : m_rest.size());
    line.number = ++m_number;
    if (!line.text.empty() && line.text.back() == '\r') {
        line.text.remove_suffix(1);
    }
    return true;
}

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(s);
    }
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t pos = s.find(from, start);
        if (pos == std::string_view::npos) {
            out.append(s.substr(start));
            return out;
        }
        out.append(s.substr(start, pos - start));
        out.append(to);
        start = pos + from.size();
    }
}

std::string fill(std::string_view templ,
                 std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
    std::string out;
    size_t i = 0;
    while (i < templ.size()) {
        bool replaced = false;
        for (const auto& [key, value] : values) {
            if (!key.empty() && templ.substr(i, key.size()) == key) {
                out.append(value);
                i += key.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += templ[i++];
        }
    }
    return out;
}

std::string groupThousands(std::string_view number) {
    std::string_view sign;
    if (!number.empty() && number.front() == '-') {
        sign = number.substr(0, 1);
        number.remove_prefix(1);
    }
    const size_t dot = number.find('.');
    const std::string_view whole = number.substr(0, dot);
    const std::string_view rest = dot == std::string_view::npos ? "" : number.substr(dot);
    std::string out(sign);
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) {
            out += ',';
        }
        out += whole[i];
    }
    out.append(rest);
    return out;
}

std::optional<std::int64_t> parseInt(std::string_view s) {
    s = trimSpace(s);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
    }
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) {
        return std::nullopt;
    }
    return value;
}

std::int64_t leadingInt(std::string_view s) {
    s = trimSpace(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::int64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            break;
        }
        if (value > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) {
            break;
        }
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

}  // namespace kestrel::text
