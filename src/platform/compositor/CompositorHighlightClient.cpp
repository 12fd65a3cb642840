#include "platform/compositor/CompositorHighlightClient.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace {

// The part runs in the compositor's main loop: a busy compositor is not waited for.
constexpr int kVersionTimeoutMs = 1000;

} // namespace

CompositorHighlightClient::CompositorHighlightClient(QDBusConnection bus, Endpoint endpoint, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), endpoint_(endpoint),
      watcher_(QString::fromLatin1(endpoint.service), bus_, QDBusServiceWatcher::WatchForRegistration) {
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, &CompositorHighlightClient::appeared);
    bus_.connect(endpoint_.service, endpoint_.path, endpoint_.interface, QStringLiteral("LeftPressed"), this,
                 SLOT(onLeftPressed(double, double)));
}

QString CompositorHighlightClient::version() const {
    QDBusMessage get = QDBusMessage::createMethodCall(endpoint_.service, endpoint_.path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(endpoint_.interface) << QStringLiteral("Version");
    const QDBusMessage reply = bus_.call(get, QDBus::Block, kVersionTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front().value<QDBusVariant>().variant().toString();
}

void CompositorHighlightClient::setLook(const Look& look) {
    send(QStringLiteral("SetLook"), {look.baseColor, look.baseOpacity, look.baseSize, look.clickColor,
                                     look.clickOpacity, look.clickSize});
}

void CompositorHighlightClient::show() {
    send(QStringLiteral("Show"), {});
}

void CompositorHighlightClient::hide() {
    send(QStringLiteral("Hide"), {});
}

void CompositorHighlightClient::setClicked(bool clicked) {
    send(QStringLiteral("SetClicked"), {clicked});
}

void CompositorHighlightClient::send(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(endpoint_.service, endpoint_.path, endpoint_.interface, method);
    call.setArguments(arguments);
    // Messages on one connection arrive in order; the answers tell nothing the app acts on.
    call.setAutoStartService(false);
    bus_.send(call);
}

void CompositorHighlightClient::onLeftPressed(double x, double y) {
    emit leftPressed(x, y);
}
