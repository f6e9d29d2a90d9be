// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The reversible scrambling of the passwords kept in the job store. It hides a password from a
// casual look at the file; it is no encryption (the key is part of the program), which is why
// the store is readable by its owner only.
namespace kestrel {

inline constexpr size_t kScrambleKeyLength = 1000;

std::string_view scrambleKeyTable();

// XORs the text with the key table in 1000 / length passes. Texts of 0 or more than 1000
// characters come back unchanged.
std::string ScrambleText(std::string_view plain);
std::string UnscrambleText(std::string_view scrambled);

// "abc" -> "97,98,99"; "" -> "".
std::string ToCodeList(std::string_view s);
// The reverse of ToCodeList; "" for a text that is not a list of codes 0..255.
std::string FromCodeList(std::string_view s);
// As FromCodeList, but tells a damaged list (nothing) from an empty one.
std::optional<std::string> parseCodeList(std::string_view s);

}  // namespace kestrel
