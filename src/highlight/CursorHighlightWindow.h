#pragma once

#include "highlight/Click.h"

#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class HighlightOverlay;
class HighlightSettings;

// Controls the highlight: shows and hides it, and raises the click flag 0.1 s after each left-button
// press elsewhere. How the circles reach the screen and follow the pointer is the overlay's, which the
// desktop backend makes; this class never learns which kind it is.
// Thread-safety: GUI thread only.
class CursorHighlightWindow : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)
  public:
    // Makes the overlay that shows `settings` and `click`, which outlive it.
    using OverlayFactory = std::function<std::unique_ptr<HighlightOverlay>(HighlightSettings&, Click&)>;

    static constexpr int clickDelayMs = 100;

    CursorHighlightWindow(const OverlayFactory& overlayFactory, HighlightSettings& settings,
                          QObject* parent = nullptr);
    ~CursorHighlightWindow() override;

    void show();
    void hide();
    bool isVisible() const { return isVisible_; }
    Click& click() { return click_; }

    // Presses on the application's own windows show no click look; this tells which points (in the
    // toolkit's coordinates) are ours.
    void setOwnWindowTest(std::function<bool(QPoint)> isOwnWindowAt);

    // For tests and diagnostics.
    bool isMonitoringClicks() const { return monitoringClicks_; }
    HighlightOverlay& overlay() const { return *overlay_; }

  signals:
    void isVisibleChanged(bool isVisible);

  private:
    void stopMonitoringClicks();
    void handleClick(std::optional<QPoint> position);

    Click click_;
    std::unique_ptr<HighlightOverlay> overlay_;
    QTimer clickTask_;
    std::function<bool(QPoint)> isOwnWindowAt_;
    bool monitoringClicks_ = false;
    bool isVisible_ = false;
};
