// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/language_file.h"

#include "platform/text.h"

namespace kestrel {

LanguageFile::LanguageFile(const std::string& path) {
    m_ini.load(path);
}

LanguageFile LanguageFile::parse(std::string_view text) {
    LanguageFile language;
    language.m_ini = IniFile::parse(text);
    return language;
}

std::string LanguageFile::profileString(std::string_view section, std::string_view key) const {
    auto raw = m_ini.value(section, key);
    if (!raw) {
        return "";
    }
    std::string_view v = *raw;
    if (const size_t nul = v.find('\0'); nul != std::string_view::npos) {
        v = v.substr(0, nul);
    }
    v = text::trimSpace(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

std::optional<std::string> LanguageFile::caption(std::string_view window,
                                                 std::string_view control) const {
    std::string value = profileString(window, control);
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> LanguageFile::caption(std::string_view window, std::string_view control,
                                                 int index) const {
    return caption(window, std::string(control) + "|" + std::to_string(index));
}

}  // namespace kestrel
