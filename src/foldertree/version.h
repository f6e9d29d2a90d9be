// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kestrel {

// The control library's own version, shown by Ctrl+Alt+Shift+V in the tree; the library's
// VERSION in CMakeLists.txt follows it.
inline constexpr int kControlVersionMajor = 1;
inline constexpr int kControlVersionMinor = 0;
inline constexpr int kControlVersionRevision = 1;

}  // namespace kestrel
