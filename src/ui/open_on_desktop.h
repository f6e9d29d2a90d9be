// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>
#include <functional>

namespace kestrel::ui {

// Shows a file, folder or page in the desktop's program for it (xdg-open, beside this one).
// done(false) when xdg-open is missing, cannot start or finds nothing to show it with; done(true)
// once it handed the address on. Either is called from the event loop, never from inside.
void openOnDesktop(const QUrl& url, std::function<void(bool opened)> done);

}  // namespace kestrel::ui
