// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/version.h"

namespace kestrel::ui {

// The windows show the program's version as the caption "Kestrel-ver1.0 rev. 1", the tray tip
// "Kestrel 1.0" and the splash and about windows' revision.
inline constexpr const char* kProgramTitle = "Kestrel";

}  // namespace kestrel::ui
