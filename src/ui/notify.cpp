#include "ui/notify.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariantMap>

namespace kestrel::ui {

bool desktopNotify(const std::string& title, const std::string& text, bool critical) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusInterface server("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                          "org.freedesktop.Notifications", bus);
    if (!server.isValid()) {
        return false;
    }
    QVariantMap hints;
    hints.insert("urgency", QVariant::fromValue<uchar>(critical ? 2 : 1));
    const QDBusReply<uint> reply = server.call(
        "Notify", QStringLiteral("Kestrel"), 0u, QStringLiteral("kestrel"),
        QString::fromStdString(title), QString::fromStdString(text), QStringList(), hints, -1);
    return reply.isValid();
}

}  // namespace kestrel::ui
