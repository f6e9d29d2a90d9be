// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ini_file.h"

namespace kestrel {

// A language file (*.lng): the section "msgStrings" translates the message table; one section
// per window, named after it, holds captions under "Caption", control names, and control names
// followed by "|" and an index.
class LanguageFile {
public:
    LanguageFile() = default;
    // Reads the file; a missing or unreadable file reads as empty.
    explicit LanguageFile(const std::string& path);
    // A language file's text already in memory.
    static LanguageFile parse(std::string_view text);

    // A value as the profile string reader returns it: blanks around it removed, one pair of
    // enclosing quotes removed, cut at a NUL. Empty when absent.
    std::string profileString(std::string_view section, std::string_view key) const;

    // The caption of a window ("Caption"), a single control (its name), or a control-array
    // member (name|index). Nothing when absent or empty, which leaves the designed caption.
    std::optional<std::string> caption(std::string_view window, std::string_view control) const;
    std::optional<std::string> caption(std::string_view window, std::string_view control,
                                       int index) const;

private:
    IniFile m_ini;
};

}  // namespace kestrel
