// SPDX-License-Identifier: GPL-3.0-or-later
// The settings and language files' reader over any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const IniFile ini = IniFile::parse(text);
    for (const std::string& section : ini.sectionNames()) {
        (void)ini.sectionLines(section);
        (void)ini.value(section, "Caption");
    }
    // Writing what was read and reading it again finds the same sections.
    if (IniFile::parse(ini.serialize()).sectionNames() != ini.sectionNames()) {
        __builtin_trap();
    }
    return 0;
}
