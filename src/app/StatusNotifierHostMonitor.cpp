#include "app/StatusNotifierHostMonitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");
const QString kInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

StatusNotifierHostMonitor::StatusNotifierHostMonitor(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)),
      watcher_(kService, bus_,
               QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration) {
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierHostMonitor::query);
    connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        ++generation_;
        setAvailable(false);
    });
    // The match rules follow the name to whichever process owns it, a restarted registry included.
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus_.connect(kService, kPath, kInterface, QString::fromLatin1(signal), this, SLOT(hostChanged()));
    query();
}

void StatusNotifierHostMonitor::hostChanged() {
    query();
}

void StatusNotifierHostMonitor::query() {
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, asked = ++generation_] {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (asked == generation_)
            setAvailable(!reply.isError() && reply.value().variant().toBool());
    });
}

void StatusNotifierHostMonitor::setAvailable(bool available) {
    if (available == available_)
        return;
    available_ = available;
    emit availableChanged(available_);
}
