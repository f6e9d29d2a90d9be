// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/icons.h"

#include <QFile>
#include <QHash>

namespace kestrel::ui {

namespace {

// Freedesktop icon names of the same meaning.
const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> names = {
        {"keyNew", "document-new"},
        {"keyEdit", "document-properties"},
        {"keyDelete", "edit-delete"},
        {"keyBackup", "document-save"},
        {"keyRestore", "document-revert"},
        {"keyHelp", "help-browser"},
        {"keyContents", "help-contents"},
        {"keyIndex", "help-contents"},
        {"keyAbout", "help-about"},
        {"keyClose", "application-exit"},
        {"keySettings", "preferences-system"},
        {"keyPause", "media-playback-pause"},
        {"keyContinue", "media-playback-start"},
        {"keyMinimize", "window-minimize"},
        {"keyWEB", "internet-web-browser"},
        {"keySource", "folder"},
        {"keyDestination", "drive-harddisk"},
        {"keySchedule", "appointment-new"},
        {"keyNotepad", "accessories-text-editor"},
    };
    return names;
}

}  // namespace

QIcon ownIcon(const QString& key) {
    const QString path = ":/icons/" + key + ".svg";
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QIcon iconFor(const QString& key) {
    const QIcon own = ownIcon(key);
    const auto theme = themeNames().constFind(key);
    if (theme != themeNames().constEnd() && QIcon::hasThemeIcon(*theme)) {
        return QIcon::fromTheme(*theme, own);
    }
    return own;
}

}  // namespace kestrel::ui
