// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Byte-string helpers shared by every layer. Letter case is ASCII only: text is UTF-8 bytes and
// the stored keys and names that are compared without case are ASCII.
namespace kestrel::text {

char toUpper(char c);
char toLower(char c);
std::string upper(std::string_view s);
std::string lower(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
bool startsWith(std::string_view s, std::string_view prefix);
bool endsWith(std::string_view s, std::string_view suffix);

// Removes leading and trailing blanks (spaces only, as the stored formats mean by "blank").
std::string_view trimBlanks(std::string_view s);
// Removes leading and trailing blanks and tabs.
std::string_view trimSpace(std::string_view s);

// Whether s holds a control character other than a tab (a byte below 0x20, or 0x7f).
bool hasControlCharacters(std::string_view s);

std::vector<std::string> split(std::string_view s, char sep);

// One line of a text file without its line end ("\n" or "\r\n"), numbered from 1. terminated:
// a line end closes it (the last line of a file cut short has none).
struct Line {
    std::string_view text;
    size_t number = 0;
    bool terminated = false;
};
// The lines of a text in order, blank ones included; a final line end begins no further line.
class LineReader {
public:
    explicit LineReader(std::string_view content) : m_rest(content) {}
    // The next line; false after the last.
    bool next(Line& line);

private:
    std::string_view m_rest;
    size_t m_number = 0;
};

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);

// Fills placeholders ("%d", "%s", ...) in one pass, so that a filled-in value that itself holds
// a placeholder (a file named "a%t.txt") is never replaced again.
std::string fill(std::string_view templ,
                 std::initializer_list<std::pair<std::string_view, std::string_view>> values);

// Digits grouped by three with "," ("1234567" -> "1,234,567"); a leading "-" and any part from
// the first "." on are kept as they are.
std::string groupThousands(std::string_view number);

// The whole text as a decimal integer, blanks around it allowed; nothing for anything else.
std::optional<std::int64_t> parseInt(std::string_view s);
// The leading decimal integer of a text after blanks, 0 when there is none ("12ab" -> 12), as
// numeric settings are read.
std::int64_t leadingInt(std::string_view s);

}  // namespace kestrel::text
