// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel::test {

// argv run with the fault shim preloaded and the KESTREL_FAULT_ variables of fault_preload.c.
inline std::vector<std::string> withFaults(
    const std::vector<std::string>& argv,
    const std::vector<std::pair<std::string, std::string>>& env) {
    // AddressSanitizer refuses to start when another library is loaded before it.
    const char* parent = std::getenv("ASAN_OPTIONS");
    std::string asan = parent != nullptr && *parent != '\0' ? std::string(parent) + ":" : "";
    asan += "verify_asan_link_order=0";
    std::vector<std::string> out = {"/usr/bin/env", "LD_PRELOAD=" KESTREL_FAULT_PRELOAD,
                                    "ASAN_OPTIONS=" + asan};
    for (const auto& [name, value] : env) {
        out.push_back(name + "=" + value);
    }
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

// One fault the shim made, as KESTREL_FAULT_REPORT lists them: "fail write 3 PATH".
struct ShimFault {
    std::string action;  // fail or kill
    std::string kind;    // write, rename, fsync, open, ftp or ftpdata
    long nth = 0;
    std::string path;  // for ftp and ftpdata the command, "stor /folder/name"
};

// The faults listed in a report file, in the order they were made; none when it is missing.
inline std::vector<ShimFault> readFaultReport(const std::string& file) {
    std::vector<ShimFault> faults;
    std::istringstream lines(readAll(file));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        ShimFault f;
        if (words >> f.action >> f.kind >> f.nth) {
            std::getline(words >> std::ws, f.path);
            faults.push_back(f);
        }
    }
    return faults;
}

// The calls a process counted by kind, from its KESTREL_FAULT_COUNT_FILE; none when missing.
inline std::map<std::string, long> readFaultCounts(const std::string& file) {
    std::map<std::string, long> counts;
    std::istringstream words(readAll(file));
    for (std::string word; words >> word;) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos) {
            counts[word.substr(0, eq)] = std::atol(word.c_str() + eq + 1);
        }
    }
    return counts;
}

}  // namespace kestrel::test
