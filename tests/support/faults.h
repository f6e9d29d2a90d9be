#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::test {

// The fault shim's library, built beside the tests.
inline std::string faultPreloadPath() {
    return KESTREL_FAULT_PRELOAD;
}

// argv run through env with the fault shim preloaded and the given variables set (see
// fault_preload.c: KESTREL_FAULT_MATCH, KESTREL_FAULT_KILL_AT_RENAME, KESTREL_FAULT_KILL_AT_WRITE,
// KESTREL_FAULT_ENOSPC_AT_WRITE), for runProgram or Program.
inline std::vector<std::string> withFaults(
    const std::vector<std::string>& argv,
    const std::vector<std::pair<std::string, std::string>>& env) {
    // AddressSanitizer refuses to start when another library is loaded before it; keep the
    // caller's other options.
    const char* parent = std::getenv("ASAN_OPTIONS");
    std::string asan = parent != nullptr && *parent != '\0' ? std::string(parent) + ":" : "";
    asan += "verify_asan_link_order=0";
    std::vector<std::string> out = {"/usr/bin/env", "LD_PRELOAD=" + faultPreloadPath(),
                                    "ASAN_OPTIONS=" + asan};
    for (const auto& [name, value] : env) {
        out.push_back(name + "=" + value);
    }
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

}  // namespace kestrel::test
