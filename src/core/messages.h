// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrel {

// One message: its key and its text in the current language.
struct clsString {
    std::string Nam;
    std::int32_t Index = 0;
    std::string Txt;

    void Fill(std::string key, std::string text) {
        Nam = std::move(key);
        Txt = std::move(text);
    }
};

// A key of the message table with its built-in English text.
struct MessageDefault {
    const char* key;
    const char* text;
};

// The built-in table in its fixed order.
const std::vector<MessageDefault>& defaultMessages();

// The message table: every user-visible text by key, in the current language.
class Messages {
public:
    Messages();

    // Rebuilds the table: the English texts, then every non-empty value of the section
    // "msgStrings" of the language file. A missing or unreadable file leaves English.
    void FillMessages(const std::string& languageFilePath);

    // The text of a key (exact, case-sensitive); the empty text for an unknown key.
    const std::string& GetMessage(std::string_view key) const;

    // The text of a key with its placeholders filled in one pass.
    std::string format(
        std::string_view key,
        std::initializer_list<std::pair<std::string_view, std::string_view>> values) const;

    const std::vector<clsString>& table() const { return m_table; }

private:
    std::vector<clsString> m_table;
    std::unordered_map<std::string, size_t> m_byKey;
};

}  // namespace kestrel
