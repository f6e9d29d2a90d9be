// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::ui {

// What a bug report needs to know about the program and the system it runs on. An empty field
// could not be found out.
struct SystemFacts {
    std::string kestrelVersion;  // "1.0 rev. 1"
    std::string qtVersion;       // of the Qt library the program runs with, not built against
    std::string distribution;    // PRETTY_NAME of os-release
    std::string kernel;          // "linux 6.1.0-18-amd64"
    std::string architecture;    // "x86_64"
    std::string programFolder;
    std::string logPath;
};

// The places of os-release, in the order the system looks.
std::vector<std::string> defaultOsReleasePaths();

// The distribution's name from os-release text: PRETTY_NAME, else NAME and VERSION; "" when it
// names none.
std::string distributionName(std::string_view osRelease);

// Gathers the facts; the distribution from the first readable os-release file of the list.
SystemFacts gatherSystemFacts(const std::string& programFolder, const std::string& logPath,
                              const std::vector<std::string>& osReleasePaths);

// The facts one per line, "unknown" for an empty one; "" when every fact is empty.
std::string systemFactsText(const SystemFacts& facts);

}  // namespace kestrel::ui
