#pragma once

#include <string>

namespace kestrel::ui {

// A desktop notification over the session bus (org.freedesktop.Notifications), for messages
// nobody is there to answer when there is no tray to show them. False when no notification
// server took it.
bool desktopNotify(const std::string& title, const std::string& text, bool critical);

}  // namespace kestrel::ui
