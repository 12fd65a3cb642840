#include "CaptureEffect.h"

#include <core/rendertarget.h>
#include <core/renderviewport.h>
#include <effect/effecthandler.h>

#include <QDBusConnection>
#include <QImage>

#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.kde.KWin.ScreenShot2");
const QString kPath = QStringLiteral("/org/kde/KWin/ScreenShot2");

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

CaptureEffect::CaptureEffect() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
    bus.registerService(kService);
}

CaptureEffect::~CaptureEffect() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(kService);
    bus.unregisterObject(kPath);
}

bool CaptureEffect::supported() {
    return KWin::effects->compositingType() == KWin::QPainterCompositing;
}

QVariantMap CaptureEffect::CaptureWorkspace(const QVariantMap&, const QDBusUnixFileDescriptor& pipe) {
    queue({}, pipe);
    return {};
}

QVariantMap CaptureEffect::CaptureArea(int x, int y, uint width, uint height, const QVariantMap&,
                                       const QDBusUnixFileDescriptor& pipe) {
    queue(QRect(x, y, int(width), int(height)), pipe);
    return {};
}

void CaptureEffect::queue(QRect area, const QDBusUnixFileDescriptor& pipe) {
    setDelayedReply(true);
    pending_.push_back({message(), pipe, area});
    KWin::effects->addRepaintFull();
}

void CaptureEffect::paintScreen(const KWin::RenderTarget& renderTarget, const KWin::RenderViewport& viewport,
                                int mask, const QRegion& region, KWin::Output* screen) {
    KWin::effects->paintScreen(renderTarget, viewport, mask, region, screen);
    const QImage* frame = renderTarget.image();
    if (!frame || pending_.empty())
        return;
    const QRectF screenArea = viewport.renderRect();
    for (const Request& request : pending_) {
        const QRect logical = request.area.isEmpty() ? screenArea.toRect() : request.area;
        const QRect device = QRectF((QRectF(logical).topLeft() - screenArea.topLeft()) * viewport.scale(),
                                    QRectF(logical).size() * viewport.scale())
                                 .toRect();
        const QImage image = frame->copy(device);
        if (!writeAll(request.pipe.fileDescriptor(), reinterpret_cast<const char*>(image.constBits()),
                      image.sizeInBytes())) {
            QDBusConnection::sessionBus().send(
                request.call.createErrorReply(QStringLiteral("org.kde.KWin.ScreenShot2.Error.FileDescriptor"),
                                              QStringLiteral("write failed")));
            continue;
        }
        const QVariantMap results{{QStringLiteral("type"), QStringLiteral("raw")},
                                  {QStringLiteral("width"), uint(image.width())},
                                  {QStringLiteral("height"), uint(image.height())},
                                  {QStringLiteral("stride"), uint(image.bytesPerLine())},
                                  {QStringLiteral("format"), uint(image.format())}};
        QDBusConnection::sessionBus().send(request.call.createReply(QVariant(results)));
    }
    pending_.clear();
}

KWIN_EFFECT_FACTORY_SUPPORTED(CaptureEffect, "metadata.json", return CaptureEffect::supported();)

#include "CaptureEffect.moc"
