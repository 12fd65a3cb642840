#include "app/DesktopNotification.h"

#include "lumarex/Product.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

bool DesktopNotification::send(const QString& summary, const QString& body, QString* error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *error = QStringLiteral("no session bus: %1").arg(bus.lastError().message());
        return false;
    }
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app name, replaces id, icon, summary, body, actions, hints, timeout (-1: the server's default)
    notify << QString::fromUtf8(product::name) << 0U << QString::fromUtf8(product::appId) << summary << body
           << QStringList()
           << QVariantMap{{QStringLiteral("desktop-entry"), QString::fromUtf8(product::appId)}} << -1;
    // A server that is there answers at once. One that the bus starts on demand may take longer, but the
    // bus already holds the message for it, so a late answer is not a failure.
    const QDBusMessage reply = bus.call(notify, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.NoReply")) {
        *error = reply.errorMessage();
        return false;
    }
    return true;
}
