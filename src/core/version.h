#pragma once

#include <string>

namespace kestrel {

// The program's version, the one place every front end takes it from.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 1;

// "1.0.1", as --version prints it.
inline std::string versionText() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

}  // namespace kestrel
