// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrel::ui {

// A desktop notification over the session bus (org.freedesktop.Notifications) from the desktop
// entry "kestrel", for messages nobody is there to answer when there is no tray or no window to
// show them. Needs a QCoreApplication. False when no notification server took it.
bool desktopNotify(const std::string& summary, const std::string& body, bool critical);

}  // namespace kestrel::ui
