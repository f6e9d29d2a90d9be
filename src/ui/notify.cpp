// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/notify.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace kestrel::ui {

namespace {

// A notification server that does not answer by then is taken for none.
constexpr int kReplyTimeoutMs = 5000;

}  // namespace

bool desktopNotify(const std::string& summary, const std::string& body, bool critical) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    QVariantMap hints;
    hints.insert("urgency", QVariant::fromValue<uchar>(critical ? 2 : 1));
    // The desktop takes the program's name and icon from its entry.
    hints.insert("desktop-entry", QStringLiteral("kestrel"));
    call << QStringLiteral("Kestrel") << 0u << QStringLiteral("kestrel")
         << QString::fromStdString(summary) << QString::fromStdString(body) << QStringList()
         << hints << -1;
    return bus.call(call, QDBus::Block, kReplyTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace kestrel::ui
