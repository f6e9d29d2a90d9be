// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrel {

// The XDG autostart entry that starts the program with the user's desktop session:
// <config>/autostart/kestrel.desktop ("" when no configuration folder is known).
std::string autostartEntryPath();

// The entry's text: it starts executable (an absolute path), described by comment.
std::string autostartEntryText(const std::string& executable, const std::string& comment);

// Whether the desktop starts the program: the entry is there and not switched off (desktops
// that keep a user's choice write Hidden=true or X-GNOME-Autostart-enabled=false into it).
bool autostartEnabled();

// Writes the entry for the running executable (on) or removes it (off). True when the desktop
// now does as asked; *error says why not.
[[nodiscard]] bool setAutostart(bool on, const std::string& comment, std::string* error);

}  // namespace kestrel
