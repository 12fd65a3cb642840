#include "highlight/CursorHighlightWindow.h"

#include "platform/HighlightOverlay.h"

#include <QPointer>

#include <cstdio>

CursorHighlightWindow::CursorHighlightWindow(const OverlayFactory& overlayFactory,
                                             HighlightSettings& settings, QObject* parent)
    : QObject(parent), overlay_(overlayFactory(settings, click_)) {
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
    stopMonitoringClicks();
}

void CursorHighlightWindow::setOwnWindowTest(std::function<bool(QPoint)> isOwnWindowAt) {
    isOwnWindowAt_ = std::move(isOwnWindowAt);
}

void CursorHighlightWindow::show() {
    click_.setClicked(false);
    // A second show while visible would otherwise leave a first press watch running for ever.
    stopMonitoringClicks();
    overlay_->show();
    const bool wasVisible = isVisible_;
    isVisible_ = true;
    QPointer<CursorHighlightWindow> self(this);
    monitoringClicks_ = overlay_->startWatchingPresses([self](std::optional<QPoint> position) {
        if (self)
            self->handleClick(position);
    });
    if (!wasVisible)
        emit isVisibleChanged(true);
}

void CursorHighlightWindow::hide() {
    click_.setClicked(false);
    stopMonitoringClicks();
    overlay_->hide();
    const bool wasVisible = isVisible_;
    isVisible_ = false;
    if (wasVisible)
        emit isVisibleChanged(false);
}

void CursorHighlightWindow::stopMonitoringClicks() {
    if (!monitoringClicks_)
        return;
    overlay_->stopWatchingPresses();
    monitoringClicks_ = false;
}

void CursorHighlightWindow::handleClick(std::optional<QPoint> position) {
    if (isOwnWindowAt_ && position && isOwnWindowAt_(*position))
        return;
    clickTask_.start(); // restarting cancels the pending one
}
