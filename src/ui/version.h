#pragma once

namespace kestrel::ui {

// The program's version as the windows show it: the caption "Kestrel-ver1.0 rev. 1", the tray
// tip "Kestrel 1.0", the splash and about windows' revision.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 1;
inline constexpr const char* kProgramTitle = "Kestrel";

}  // namespace kestrel::ui
