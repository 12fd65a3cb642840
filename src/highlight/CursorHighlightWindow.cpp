#include "highlight/CursorHighlightWindow.h"

#include "highlight/CursorHighlightView.h"
#include "highlight/HighlightSettings.h"
#include "platform/OverlaySurface.h"
#include "platform/PointerMonitor.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11OverlaySurface.h"
#include "platform/x11/X11PointerMonitor.h"
#include "platform/x11/X11PointerTracker.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>

CursorHighlightWindow::CursorHighlightWindow(SurfaceFactory surfaceFactory,
                                             std::unique_ptr<PointerMonitor> pointer,
                                             HighlightSettings& settings, QObject* parent)
    : QObject(parent), surfaceFactory_(std::move(surfaceFactory)), pointer_(std::move(pointer)),
      settings_(settings) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000 / ticksPerSecond);
    connect(&timer_, &QTimer::timeout, this, &CursorHighlightWindow::updatePosition);
    restPoll_.setInterval(restPollMs);
    connect(&restPoll_, &QTimer::timeout, this, &CursorHighlightWindow::pollWhileResting);

    clickTask_.setSingleShot(true);
    clickTask_.setTimerType(Qt::PreciseTimer);
    clickTask_.setInterval(clickDelayMs);
    connect(&clickTask_, &QTimer::timeout, this, [this] {
        click_.setClicked(true);
        std::fputs("clicked\n", stdout);
        std::fflush(stdout);
    });
}

CursorHighlightWindow::~CursorHighlightWindow() {
    stopTracking();
}

CursorHighlightWindow& CursorHighlightWindow::shared() {
    static CursorHighlightWindow* instance = [] {
        X11Connection* connection = X11Connection::shared();
        // Following the pointer and reading presses happen on the tracker's thread; without it (its
        // connection refused) the timer here does the following. Lives as long as the overlay.
        auto* tracker = new X11PointerTracker(connection->displayName(), [] {
            // The server went away (said on standard error): nothing can be shown any more.
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        });
        SurfaceFactory factory = [connection, tracker](QSize size) -> std::unique_ptr<OverlaySurface> {
            return std::make_unique<X11OverlaySurface>(*connection, size, tracker);
        };
        auto* overlay = new CursorHighlightWindow(
            factory, std::make_unique<X11PointerMonitor>(*connection, tracker), HighlightSettings::shared());
        // X11 has one scale for the whole desktop; Qt knows it (Xft.dpi, QT_SCALE_FACTOR…).
        overlay->setDeviceScaleSource([] {
            const QScreen* screen = QGuiApplication::primaryScreen();
            return screen ? screen->devicePixelRatio() : 1.0;
        });
        return overlay;
    }();
    return *instance;
}

void CursorHighlightWindow::setOwnWindowTest(std::function<bool(QPoint)> isOwnWindowAt) {
    isOwnWindowAt_ = std::move(isOwnWindowAt);
}

void CursorHighlightWindow::setDeviceScaleSource(std::function<double()> deviceScale) {
    deviceScale_ = std::move(deviceScale);
}

void CursorHighlightWindow::show() {
    click_.setClicked(false);
    if (deviceScale_) {
        const double scale = deviceScale_();
        scale_ = std::isfinite(scale) && scale > 0 ? scale : 1.0;
    }
    // A second show while visible would otherwise leave a first timer and monitor running for ever.
    stopTracking();
    if (!window_) {
        window_ = surfaceFactory_(windowSizeForSettings());
        view_ = new CursorHighlightView(click_, settings_, this);
        view_->setScale(scale_);
        connect(view_, &CursorHighlightView::needsRedraw, this, &CursorHighlightWindow::redraw);
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
    const bool wasVisible = isVisible_;
    isVisible_ = true;
    if (needsRedraw_)
        redraw();
    startTracking();
    if (!wasVisible)
        emit isVisibleChanged(true);
}

void CursorHighlightWindow::hide() {
    click_.setClicked(false);
    stopTracking();
    if (window_)
        window_->hide();
    const bool wasVisible = isVisible_;
    isVisible_ = false;
    if (wasVisible)
        emit isVisibleChanged(false);
}

void CursorHighlightWindow::startTracking() {
    QPointer<CursorHighlightWindow> self(this);
    monitoringClicks_ = pointer_->startWatchingPresses([self] {
        if (self)
            self->handleClick();
    });
    stillTicks_ = 0;
    surfaceFollows_ = window_->startFollowingPointer();
    if (!surfaceFollows_)
        timer_.start();
}

void CursorHighlightWindow::stopTracking() {
    if (surfaceFollows_) {
        window_->stopFollowingPointer();
        surfaceFollows_ = false;
    }
    if (monitoringClicks_) {
        pointer_->stopWatchingPresses();
        monitoringClicks_ = false;
    }
    pointer_->cancelMotionWatch();
    timer_.stop();
    restPoll_.stop();
}

void CursorHighlightWindow::updatePosition() {
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

void CursorHighlightWindow::rest() {
    QPointer<CursorHighlightWindow> self(this);
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

void CursorHighlightWindow::pollWhileResting() {
    const std::optional<QPoint> position = pointer_->position();
    if (position && position != lastPosition_) {
        pointer_->cancelMotionWatch();
        wake();
    }
}

void CursorHighlightWindow::wake() {
    if (!isVisible_)
        return;
    restPoll_.stop();
    stillTicks_ = 0;
    timer_.start();
    updatePosition();
}

void CursorHighlightWindow::handleClick() {
    if (isOwnWindowAt_) {
        const std::optional<QPoint> position = pointer_->position();
        if (position && isOwnWindowAt_(*position))
            return;
    }
    clickTask_.start(); // restarting cancels the pending one
}

QSize CursorHighlightWindow::windowSizeForSettings() const {
    // Room for the larger circle plus a pixel of anti-aliasing on each side, up to a bound: a settings
    // file may hold any size, and the window's image grows with its square.
    const double largest = std::max(settings_.baseSize(), settings_.clickSize()) * scale_;
    const double bounded = std::isfinite(largest) ? std::clamp(largest, 0.0, double(maxWindowSize)) : 0.0;
    const int minimum = std::min(static_cast<int>(std::ceil(baseWindowSize * scale_)), maxWindowSize);
    const int side = std::clamp(static_cast<int>(std::ceil(bounded)) + 2, minimum, maxWindowSize);
    return {side, side};
}

void CursorHighlightWindow::redraw() {
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
