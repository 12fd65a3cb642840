#include "platform/gnome/GnomeShellExtension.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace {

// The extension runs in the Shell's main loop: a busy Shell is not waited for.
constexpr int kVersionTimeoutMs = 1000;

} // namespace

GnomeShellExtension::GnomeShellExtension(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)),
      watcher_(QString::fromLatin1(kService), bus_, QDBusServiceWatcher::WatchForRegistration) {
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, &GnomeShellExtension::appeared);
    bus_.connect(kService, kPath, kInterface, QStringLiteral("LeftPressed"), this,
                 SLOT(onLeftPressed(double, double)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ShortcutPressed"), this,
                 SLOT(onShortcutPressed()));
}

QString GnomeShellExtension::version() const {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(kInterface) << QStringLiteral("Version");
    const QDBusMessage reply = bus_.call(get, QDBus::Block, kVersionTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front().value<QDBusVariant>().variant().toString();
}

void GnomeShellExtension::setLook(const Look& look) {
    send(QStringLiteral("SetLook"), {look.baseColor, look.baseOpacity, look.baseSize, look.clickColor,
                                     look.clickOpacity, look.clickSize});
}

void GnomeShellExtension::setShortcut(const QString& shortcutText, const QString& accelerator) {
    shortcutText_ = shortcutText;
    send(QStringLiteral("SetShortcut"), {accelerator});
}

void GnomeShellExtension::show() {
    send(QStringLiteral("Show"), {});
}

void GnomeShellExtension::hide() {
    send(QStringLiteral("Hide"), {});
}

void GnomeShellExtension::setClicked(bool clicked) {
    send(QStringLiteral("SetClicked"), {clicked});
}

void GnomeShellExtension::send(const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    // Messages on one connection arrive in order; the answers tell nothing the app acts on.
    call.setAutoStartService(false);
    bus_.send(call);
}

void GnomeShellExtension::onLeftPressed(double x, double y) {
    emit leftPressed(x, y);
}

void GnomeShellExtension::onShortcutPressed() {
    emit shortcutPressed();
}
