#include "HighlightService.h"

#include "HighlightEffect.h"
#include "HighlightLook.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

HighlightService::HighlightService(HighlightEffect& effect, QObject* parent)
    : QObject(parent), effect_(effect) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    owner_.setConnection(bus);
    owner_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(&owner_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { effect_.hide(); });
    connect(&effect_, &HighlightEffect::leftPressed, this,
            [this](QPointF at) { emit LeftPressed(at.x(), at.y()); });
    connect(&effect_, &HighlightEffect::shownChanged, this, &HighlightService::onShownChanged);
    bus.registerObject(QString::fromLatin1(kPath), this,
                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                           QDBusConnection::ExportAllProperties);
    bus.registerService(QString::fromLatin1(kService));
}

HighlightService::~HighlightService() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QString::fromLatin1(kService));
    bus.unregisterObject(QString::fromLatin1(kPath));
}

QString HighlightService::version() const {
    return QStringLiteral(LUMAREX_VERSION);
}

bool HighlightService::shown() const {
    return effect_.isShown();
}

void HighlightService::SetLook(const QString& baseColor, double baseOpacity, double baseSize,
                               const QString& clickColor, double clickOpacity, double clickSize) {
    HighlightLook look;
    const QString problem =
        HighlightLook::parse(baseColor, baseOpacity, baseSize, clickColor, clickOpacity, clickSize, &look);
    if (!problem.isEmpty()) {
        sendErrorReply(QString::fromLatin1(kInterface) + QStringLiteral(".Error.InvalidArgs"), problem);
        return;
    }
    effect_.setLook(look);
}

void HighlightService::Show() {
    // The caller owns the highlight: when it leaves the bus (a crash too), nothing stays on screen.
    owner_.setWatchedServices({message().service()});
    effect_.show();
}

void HighlightService::Hide() {
    effect_.hide();
}

void HighlightService::SetClicked(bool clicked) {
    effect_.setClicked(clicked);
}

void HighlightService::onShownChanged(bool shown) {
    if (!shown)
        owner_.setWatchedServices({});
    QDBusMessage changed = QDBusMessage::createSignal(QString::fromLatin1(kPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("PropertiesChanged"));
    changed << QString::fromLatin1(kInterface) << QVariantMap{{QStringLiteral("Shown"), shown}} << QStringList();
    QDBusConnection::sessionBus().send(changed);
}
