#pragma once

#include "highlight/SpringAnimation.h"

#include <QObject>
#include <QRegion>
#include <QSize>
#include <QTimer>

#include <functional>

class Click;
class HighlightSettings;
class QImage;

// Draws the highlight: the base circle and, over it, the click circle that fades in while the click flag
// is raised. It owns no window; the overlay paints render() into its surface whenever needsRedraw() is
// emitted. It also lowers the click flag 0.3 s after each rise. The animation timer runs only while the
// click circle's opacity is moving.
// Thread-safety: GUI thread only.
class CursorHighlightView : public QObject {
    Q_OBJECT

  public:
    enum class RenderMode {
        // Translucent, anti-aliased circles for a composited screen.
        Translucent,
        // Opaque, aliased circles for a shaped window on a screen without a compositor, where alpha
        // is ignored. Matches shape() pixel for pixel.
        Solid,
    };

    // Monotonic time in seconds.
    using Clock = std::function<double()>;

    static constexpr double kClickHoldSeconds = 0.3;
    static constexpr double kSpringResponseSeconds = 0.3;
    // Below this effective opacity a circle is left out of the solid look.
    static constexpr double kSolidVisibilityThreshold = 0.1;

    // An empty clock means the steady clock.
    CursorHighlightView(Click& click, HighlightSettings& settings, Clock clock = {},
                        QObject* parent = nullptr);
    CursorHighlightView(Click& click, HighlightSettings& settings, QObject* parent);

    // Clears `target` (made ARGB32 premultiplied if it is not) and draws the circles centred in it.
    void render(QImage& target, RenderMode mode) const;
    // The pixels render() paints in an image of `size`. For Solid exactly the painted pixels (the mask of
    // a shaped window); for Translucent every pixel that anti-aliasing may touch.
    QRegion shape(QSize size, RenderMode mode = RenderMode::Solid) const;

    // Device pixels per point: the circles' sizes are in points, the image in device pixels.
    void setScale(double scale);
    double scale() const { return scale_; }

    // The click circle's current animated opacity, 0…1.
    double clickOpacity() const;
    // True while the click circle's opacity is moving (the frame timer is running).
    bool isAnimating() const { return frameTimer_.isActive(); }

    static double steadyClockSeconds();

  signals:
    // The look changed (a setting, or a step of the click animation).
    void needsRedraw();

  private:
    void onClickChanged(bool isClicked);
    void onFrame();
    bool baseVisibleWhenSolid() const;
    double baseDiameter() const;
    double clickDiameter() const;
    bool clickVisibleWhenSolid() const;

    Click& click_;
    HighlightSettings& settings_;
    Clock clock_;
    SpringAnimation clickSpring_;
    QTimer frameTimer_;
    double scale_ = 1.0;
};
