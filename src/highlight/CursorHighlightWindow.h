#pragma once

#include "highlight/Click.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class CursorHighlightView;
class HighlightSettings;
class OverlaySurface;
class PointerMonitor;

// Controls the overlay that follows the pointer: shows and hides it, keeps it centred on the pointer
// and raises the click flag 0.1 s after each left-button press elsewhere.
// Position updates run 60 times a second while the pointer moves: the surface does them itself when its
// platform can (off the GUI thread), otherwise a timer here does. When the pointer has stood still for a
// few ticks that timer rests until the platform reports motion again (with a slow poll as a safety net
// for pointer warps that report none), so a still pointer costs next to nothing.
// Thread-safety: GUI thread only.
class CursorHighlightWindow : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)
  public:
    using SurfaceFactory = std::function<std::unique_ptr<OverlaySurface>(QSize)>;

    static constexpr int baseWindowSize = 100;
    // Larger circles are clipped to a window of this side.
    static constexpr int maxWindowSize = 1024;
    static constexpr int ticksPerSecond = 60;
    static constexpr int clickDelayMs = 100;
    static constexpr int stillTicksBeforeRest = 6;
    static constexpr int restPollMs = 250;

    CursorHighlightWindow(SurfaceFactory surfaceFactory, std::unique_ptr<PointerMonitor> pointer,
                          HighlightSettings& settings, QObject* parent = nullptr);
    ~CursorHighlightWindow() override;

    // The process-wide overlay on the X display; created on first use.
    static CursorHighlightWindow& shared();

    void show();
    void hide();
    bool isVisible() const { return isVisible_; }
    Click& click() { return click_; }

    // Presses on the application's own windows show no click look; this tells which points (in device
    // pixels) are ours.
    void setOwnWindowTest(std::function<bool(QPoint)> isOwnWindowAt);

    // Device pixels per point, asked at every show: the circles' sizes are points, the window's pixels
    // are the screen's. Without a source it is 1.
    void setDeviceScaleSource(std::function<double()> deviceScale);
    double deviceScale() const { return scale_; }

    // For tests and diagnostics.
    bool isTracking() const { return timer_.isActive() || restPoll_.isActive() || surfaceFollows_; }
    bool isPositionTimerActive() const { return timer_.isActive(); }
    bool isMonitoringClicks() const { return monitoringClicks_; }
    OverlaySurface* surface() const { return window_.get(); }

  signals:
    void isVisibleChanged(bool isVisible);

  private:
    void startTracking();
    void stopTracking();
    void updatePosition();
    void pollWhileResting();
    void rest();
    void wake();
    void handleClick();
    void redraw();
    QSize windowSizeForSettings() const;

    SurfaceFactory surfaceFactory_;
    std::unique_ptr<PointerMonitor> pointer_;
    HighlightSettings& settings_;
    Click click_;
    std::unique_ptr<OverlaySurface> window_;
    CursorHighlightView* view_ = nullptr;
    QTimer timer_;
    QTimer restPoll_;
    QTimer clickTask_;
    std::function<bool(QPoint)> isOwnWindowAt_;
    std::function<double()> deviceScale_;
    double scale_ = 1.0;
    QImage image_;
    std::optional<QPoint> lastPosition_;
    int stillTicks_ = 0;
    bool monitoringClicks_ = false;
    bool surfaceFollows_ = false;
    bool isVisible_ = false;
    bool needsRedraw_ = false;
};
