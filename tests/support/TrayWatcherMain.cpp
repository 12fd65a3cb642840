// lumarex-tray-watcher [--host-later]: the desktop's tray registry on the session bus, as Plasma's tray
// provides it: org.kde.StatusNotifierWatcher at /StatusNotifierWatcher, which applications tell about
// their StatusNotifierItems and which forgets an item when its owner leaves the bus. It stands for the
// tray's host itself (IsStatusNotifierHostRegistered is true), or with --host-later only once a host
// registers (RegisterStatusNotifierHost), as Plasma's tray comes up in two steps at login. It prints
// "item SERVICE/PATH", "gone SERVICE/PATH" and "host SERVICE", one line each, flushed at once.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QStringList>

#include <cstdio>

namespace {

class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

  public:
    Watcher(QDBusConnection bus, bool ownHost) : bus_(bus), ownHost_(ownHost) {
        owners_.setConnection(bus_);
        owners_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&owners_, &QDBusServiceWatcher::serviceUnregistered, this, &Watcher::ownerGone);
    }

    QStringList registeredItems() const { return items_; }
    bool isHostRegistered() const { return ownHost_ || !hosts_.isEmpty(); }
    int protocolVersion() const { return 0; }

  public slots:
    // The argument is the item's bus name (its object then at /StatusNotifierItem) or, from an
    // application with one item on its connection, only the object path.
    void RegisterStatusNotifierItem(const QString& serviceOrPath) {
        QString service = serviceOrPath, path = QStringLiteral("/StatusNotifierItem");
        if (serviceOrPath.startsWith(u'/')) {
            service = message().service();
            path = serviceOrPath;
        }
        const QString item = service + path;
        if (!bus_.interface()->isServiceRegistered(service) || items_.contains(item))
            return;
        items_ << item;
        owners_.addWatchedService(service);
        print("item", item);
        emit StatusNotifierItemRegistered(item);
    }

    void RegisterStatusNotifierHost(const QString& service) {
        if (hosts_.contains(service) || !bus_.interface()->isServiceRegistered(service))
            return;
        hosts_ << service;
        owners_.addWatchedService(service);
        print("host", service);
        emit StatusNotifierHostRegistered();
    }

  signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

  private:
    void ownerGone(const QString& service) {
        for (const QString& item : QStringList(items_)) {
            if (item.startsWith(service + u'/')) {
                items_.removeAll(item);
                print("gone", item);
                emit StatusNotifierItemUnregistered(item);
            }
        }
        if (hosts_.removeAll(service) > 0)
            emit StatusNotifierHostUnregistered();
        owners_.removeWatchedService(service);
    }

    static void print(const char* what, const QString& name) {
        std::printf("%s %s\n", what, qPrintable(name));
        std::fflush(stdout);
    }

    QDBusConnection bus_;
    bool ownHost_;
    QDBusServiceWatcher owners_;
    QStringList items_;
    QStringList hosts_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher(bus, !app.arguments().contains(QStringLiteral("--host-later")));
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "lumarex-tray-watcher: cannot own org.kde.StatusNotifierWatcher: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    return app.exec();
}

#include "TrayWatcherMain.moc"
