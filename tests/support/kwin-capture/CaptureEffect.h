#pragma once

#include <effect/effect.h>

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QRect>
#include <QVariantMap>

#include <vector>

// The part of KWin's ScreenShot2 service (org.kde.KWin.ScreenShot2) that KWinSession uses, CaptureWorkspace
// and CaptureArea, for a KWin that composes with QPainter: a request asks for a frame, and the frame, as
// composed by KWin and every other effect, goes into the caller's pipe once painted. Only for tests; the
// caller is not checked.
// Thread-safety: KWin's main thread only.
class CaptureEffect : public KWin::Effect, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.KWin.ScreenShot2")

  public:
    CaptureEffect();
    ~CaptureEffect() override;

    static bool supported();

    void paintScreen(const KWin::RenderTarget& renderTarget, const KWin::RenderViewport& viewport, int mask,
                     const QRegion& region, KWin::Output* screen) override;
    bool isActive() const override { return !pending_.empty(); }
    // Outside the other effects, so that what they draw is in the frame.
    int requestedEffectChainPosition() const override { return 1; }

  public slots:
    QVariantMap CaptureWorkspace(const QVariantMap& options, const QDBusUnixFileDescriptor& pipe);
    QVariantMap CaptureArea(int x, int y, uint width, uint height, const QVariantMap& options,
                            const QDBusUnixFileDescriptor& pipe);

  private:
    struct Request {
        QDBusMessage call;
        QDBusUnixFileDescriptor pipe;
        QRect area; // empty for the whole workspace
    };
    void queue(QRect area, const QDBusUnixFileDescriptor& pipe);

    std::vector<Request> pending_;
};
