#include "platform/kde/KGlobalAccelShortcut.h"

#include "platform/kde/KdeShortcutKeys.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QList>

#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.kde.kglobalaccel");
const QString kPath = QStringLiteral("/kglobalaccel");
const QString kInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString kComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

// The action as the service names it: component and action, each unique and then readable.
const QString kComponent = QStringLiteral("example.quorvel.Lumarex");
const QString kAction = QStringLiteral("toggle-highlight");

// The service's flags: the action exists now, and the keys given win over any it stored.
constexpr uint kSetPresent = 2;
constexpr uint kNoAutoloading = 4;

constexpr int kCallTimeoutMs = 2000;

} // namespace

KGlobalAccelShortcut::KGlobalAccelShortcut(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)),
      watcher_(kService, bus_, QDBusServiceWatcher::WatchForRegistration),
      actionId_{kComponent, kAction, QStringLiteral("Lumarex"), QStringLiteral("Toggle Highlight")} {
    qDBusRegisterMetaType<QList<int>>();
    // A restarted service has forgotten the action; the signal's match rule follows the name by itself.
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] { bind(); });
}

void KGlobalAccelShortcut::setShortcut(const QString& shortcutText) {
    shortcutText_ = shortcutText;
    bind();
}

void KGlobalAccelShortcut::bind() {
    const int keys = KdeShortcutKeys::fromShortcutText(shortcutText_);
    if (!shortcutText_.isEmpty() && keys == 0)
        std::fprintf(stderr, "lumarex: Plasma has no key for the shortcut %s; it is not bound\n",
                     qPrintable(shortcutText_));
    QDBusMessage doRegister =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("doRegister"));
    doRegister << actionId_;
    doRegister.setAutoStartService(false);
    bus_.send(doRegister);

    QDBusMessage set =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("setShortcut"));
    set << actionId_ << QVariant::fromValue(keys == 0 ? QList<int>{} : QList<int>{keys})
        << (kSetPresent | kNoAutoloading);
    set.setAutoStartService(false);
    const QDBusMessage reply = bus_.call(set, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "lumarex: Plasma's global-shortcut service did not take the shortcut: %s\n",
                     qPrintable(reply.errorMessage()));
        return;
    }
    const QList<int> bound = qdbus_cast<QList<int>>(reply.arguments().value(0));
    if (keys != 0 && !bound.contains(keys))
        std::fprintf(stderr,
                     "lumarex: the shortcut %s is taken by another action in Plasma; it is not bound\n",
                     qPrintable(shortcutText_));
    if (listening_)
        return;
    QDBusMessage component =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("getComponent"));
    component << kComponent;
    const QDBusMessage path = bus_.call(component, QDBus::Block, kCallTimeoutMs);
    if (path.type() != QDBusMessage::ReplyMessage)
        return;
    listening_ = bus_.connect(kService, qdbus_cast<QDBusObjectPath>(path.arguments().value(0)).path(),
                              kComponentInterface, QStringLiteral("globalShortcutPressed"), this,
                              SLOT(onPressed(QString, QString, qlonglong)));
}

void KGlobalAccelShortcut::onPressed(const QString& component, const QString& action, qlonglong) {
    if (component == kComponent && action == kAction)
        emit pressed();
}
