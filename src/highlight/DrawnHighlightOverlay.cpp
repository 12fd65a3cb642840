#include "highlight/DrawnHighlightOverlay.h"

#include "highlight/CursorHighlightView.h"
#include "highlight/HighlightSettings.h"
#include "platform/OverlaySurface.h"
#include "platform/PointerMonitor.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

DrawnHighlightOverlay::DrawnHighlightOverlay(SurfaceFactory surfaceFactory,
                                             std::unique_ptr<PointerMonitor> pointer,
                                             HighlightSettings& settings, Click& click, QObject* parent)
    : QObject(parent), surfaceFactory_(std::move(surfaceFactory)), pointer_(std::move(pointer)),
      settings_(settings), click_(click) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000 / ticksPerSecond);
    connect(&timer_, &QTimer::timeout, this, &DrawnHighlightOverlay::updatePosition);
    restPoll_.setInterval(restPollMs);
    connect(&restPoll_, &QTimer::timeout, this, &DrawnHighlightOverlay::pollWhileResting);
}

DrawnHighlightOverlay::~DrawnHighlightOverlay() {
    stopTracking();
}

void DrawnHighlightOverlay::setDeviceScaleSource(std::function<double()> deviceScale) {
    deviceScale_ = std::move(deviceScale);
}

void DrawnHighlightOverlay::show() {
    if (deviceScale_) {
        const double scale = deviceScale_();
        scale_ = std::isfinite(scale) && scale > 0 ? scale : 1.0;
    }
    // A second show while visible would otherwise leave a first timer running for ever.
    stopTracking();
    if (!window_) {
        window_ = surfaceFactory_(windowSizeForSettings());
        view_ = new CursorHighlightView(click_, settings_, this);
        view_->setScale(scale_);
        connect(view_, &CursorHighlightView::needsRedraw, this, &DrawnHighlightOverlay::redraw);
        window_->setCompositingChangedHandler([this] { redraw(); });
        needsRedraw_ = true;
    }
    if (view_->scale() != scale_) {
        view_->setScale(scale_); // asks for a redraw, which also resizes the window
        needsRedraw_ = true;
    }
    lastPosition_.reset();
    updatePosition(); // appear where the pointer is, not where the window was last
    window_->show();
    isVisible_ = true;
    if (needsRedraw_)
        redraw();
    startTracking();
}

void DrawnHighlightOverlay::hide() {
    stopTracking();
    if (window_)
        window_->hide();
    isVisible_ = false;
}

bool DrawnHighlightOverlay::startWatchingPresses(PressHandler onLeftPress) {
    QPointer<DrawnHighlightOverlay> self(this);
    return pointer_->startWatchingPresses([self, onLeftPress = std::move(onLeftPress)] {
        if (!self)
            return;
        // The pointer comes in device pixels, the toolkit's window geometry in its own (scaled) coordinates.
        const std::optional<QPoint> position = self->pointer_->position();
        onLeftPress(position ? std::optional<QPoint>((QPointF(*position) / self->scale_).toPoint())
                             : std::nullopt);
    });
}

void DrawnHighlightOverlay::stopWatchingPresses() {
    pointer_->stopWatchingPresses();
}

void DrawnHighlightOverlay::startTracking() {
    stillTicks_ = 0;
    surfaceFollows_ = window_->startFollowingPointer();
    if (!surfaceFollows_)
        timer_.start();
}

void DrawnHighlightOverlay::stopTracking() {
    if (surfaceFollows_) {
        window_->stopFollowingPointer();
        surfaceFollows_ = false;
    }
    pointer_->cancelMotionWatch();
    timer_.stop();
    restPoll_.stop();
}

void DrawnHighlightOverlay::updatePosition() {
    if (!window_)
        return;
    const std::optional<QPoint> position = pointer_->position();
    if (!position)
        return;
    if (position == lastPosition_) {
        if (++stillTicks_ >= stillTicksBeforeRest && timer_.isActive())
            rest();
        return;
    }
    stillTicks_ = 0;
    lastPosition_ = position;
    const QSize size = window_->size();
    window_->moveTo(QPoint(position->x() - size.width() / 2, position->y() - size.height() / 2));
}

void DrawnHighlightOverlay::rest() {
    QPointer<DrawnHighlightOverlay> self(this);
    if (!pointer_->watchNextMotion([self] {
            if (self)
                self->wake();
        }))
        return; // no motion reports on this platform: keep ticking
    timer_.stop();
    restPoll_.start();
    // Motion between the last tick and the watch would go unseen until the next one; look once more.
    pollWhileResting();
}

void DrawnHighlightOverlay::pollWhileResting() {
    const std::optional<QPoint> position = pointer_->position();
    if (position && position != lastPosition_) {
        pointer_->cancelMotionWatch();
        wake();
    }
}

void DrawnHighlightOverlay::wake() {
    if (!isVisible_)
        return;
    restPoll_.stop();
    stillTicks_ = 0;
    timer_.start();
    updatePosition();
}

QSize DrawnHighlightOverlay::windowSizeForSettings() const {
    // Room for the larger circle plus a pixel of anti-aliasing on each side, up to a bound: a settings
    // file may hold any size, and the window's image grows with its square.
    const double largest = std::max(settings_.baseSize(), settings_.clickSize()) * scale_;
    const double bounded = std::isfinite(largest) ? std::clamp(largest, 0.0, double(maxWindowSize)) : 0.0;
    const int minimum = std::min(static_cast<int>(std::ceil(baseWindowSize * scale_)), maxWindowSize);
    const int side = std::clamp(static_cast<int>(std::ceil(bounded)) + 2, minimum, maxWindowSize);
    return {side, side};
}

void DrawnHighlightOverlay::redraw() {
    if (!window_)
        return;
    if (!isVisible_) {
        needsRedraw_ = true;
        return;
    }
    needsRedraw_ = false;
    const QSize size = windowSizeForSettings();
    if (size != window_->size()) {
        window_->resize(size);
        lastPosition_.reset();
        updatePosition();
    }
    if (image_.size() != size)
        image_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    const auto mode = window_->isComposited() ? CursorHighlightView::RenderMode::Translucent
                                              : CursorHighlightView::RenderMode::Solid;
    view_->render(image_, mode);
    window_->setContent(image_, window_->isComposited() ? QRegion() : view_->shape(size, mode));
}
