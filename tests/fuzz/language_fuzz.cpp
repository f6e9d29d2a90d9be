// SPDX-License-Identifier: GPL-3.0-or-later
// A language file over any bytes: whatever it holds, every key it reads can be looked up.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/language_file.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const LanguageFile language = LanguageFile::parse(text);
    const IniFile ini = IniFile::parse(text);
    for (const std::string& section : ini.sectionNames()) {
        const auto lines = ini.sectionLines(section);
        check(lines.has_value());
        for (const std::string& line : *lines) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            const std::string key = line.substr(0, eq);
            const auto raw = ini.value(section, key);
            check(raw.has_value());
            // The text shown is the stored one trimmed, cut and unquoted: a part of it.
            const std::string value = language.profileString(section, key);
            check(value.find('\0') == std::string::npos);
            check(raw->find(value) != std::string::npos);
            // Windows and controls are named without regard to case.
            check(language.profileString(text::upper(section), text::lower(key)) == value);
            const auto caption = language.caption(section, key);
            check(caption.has_value() == !value.empty());
            check(!caption || *caption == value);
            // A control-array member reads the same by name and index as by its full key.
            const size_t bar = key.rfind('|');
            if (bar == std::string::npos) {
                continue;
            }
            const auto index = text::parseInt(key.substr(bar + 1));
            if (index && *index >= 0 && *index <= std::numeric_limits<int>::max() &&
                std::to_string(*index) == key.substr(bar + 1)) {
                check(language.caption(section, key.substr(0, bar), static_cast<int>(*index)) ==
                      caption);
            }
        }
    }
    return 0;
}
