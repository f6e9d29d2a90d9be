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

std::vector<std::string> split(std::string_view s, char sep);
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
