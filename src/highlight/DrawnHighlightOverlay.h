#pragma once

#include "platform/HighlightOverlay.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class Click;
class CursorHighlightView;
class HighlightSettings;
class OverlaySurface;
class PointerMonitor;

// The highlight where the application draws it itself: the drawing view paints the circles into a
// click-through surface of the backend, which is kept centred on the pointer.
// Position updates run 60 times a second while the pointer moves: the surface does them itself when its
// platform can (off the GUI thread), otherwise a timer here does. When the pointer has stood still for a
// few ticks that timer rests until the platform reports motion again (with a slow poll as a safety net
// for pointer warps that report none), so a still pointer costs next to nothing.
// Thread-safety: GUI thread only.
class DrawnHighlightOverlay : public QObject, public HighlightOverlay {
    Q_OBJECT
  public:
    using SurfaceFactory = std::function<std::unique_ptr<OverlaySurface>(QSize)>;

    static constexpr int baseWindowSize = 100;
    // Larger circles are clipped to a window of this side.
    static constexpr int maxWindowSize = 1024;
    static constexpr int ticksPerSecond = 60;
    static constexpr int stillTicksBeforeRest = 6;
    static constexpr int restPollMs = 250;

    // The surface is made at the first show, at the size the settings ask for.
    DrawnHighlightOverlay(SurfaceFactory surfaceFactory, std::unique_ptr<PointerMonitor> pointer,
                          HighlightSettings& settings, Click& click, QObject* parent = nullptr);
    ~DrawnHighlightOverlay() override;

    void show() override;
    void hide() override;
    bool startWatchingPresses(PressHandler onLeftPress) override;
    void stopWatchingPresses() override;

    // Device pixels per point, asked at every show: the circles' sizes are points, the window's pixels
    // are the screen's. Without a source it is 1.
    void setDeviceScaleSource(std::function<double()> deviceScale);
    double deviceScale() const { return scale_; }

    // For tests and diagnostics.
    bool isTracking() const { return timer_.isActive() || restPoll_.isActive() || surfaceFollows_; }
    bool isPositionTimerActive() const { return timer_.isActive(); }
    OverlaySurface* surface() const { return window_.get(); }

  private:
    void startTracking();
    void stopTracking();
    void updatePosition();
    void pollWhileResting();
    void rest();
    void wake();
    void redraw();
    QSize windowSizeForSettings() const;

    SurfaceFactory surfaceFactory_;
    std::unique_ptr<PointerMonitor> pointer_;
    HighlightSettings& settings_;
    Click& click_;
    std::unique_ptr<OverlaySurface> window_;
    CursorHighlightView* view_ = nullptr;
    QTimer timer_;
    QTimer restPoll_;
    std::function<double()> deviceScale_;
    double scale_ = 1.0;
    QImage image_;
    std::optional<QPoint> lastPosition_;
    int stillTicks_ = 0;
    bool surfaceFollows_ = false;
    bool isVisible_ = false;
    bool needsRedraw_ = false;
};
