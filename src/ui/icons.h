// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QString>

namespace kestrel::ui {

// The icon of a key ("keyNew", "keyBackup", "backup", "ftp", "fail", "unknown", ...): the
// desktop theme's icon of the same meaning where the theme has one, else the program's own
// picture; a null icon for a key that has neither.
QIcon iconFor(const QString& key);
// The program's own picture alone, for places that must look the same everywhere (the tray
// icon drawn over, screenshots).
QIcon ownIcon(const QString& key);

}  // namespace kestrel::ui
