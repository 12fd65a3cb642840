#include "highlight/CursorHighlightView.h"

#include "highlight/Click.h"
#include "highlight/HighlightSettings.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr int kFrameIntervalMs = 16; // ~60 Hz

double clamp01(double value) {
    return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
}

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(clamp01(color.alphaF() * opacity)));
    return color;
}

bool isDrawableSize(double diameter) {
    return std::isfinite(diameter) && diameter > 0.0;
}

// A centred circle wider than the image's diagonal covers every pixel of it, so larger diameters (a
// hand-edited settings file may hold any number) are drawn at that width: the same pixels, without
// paths and regions millions of pixels across.
double coveringDiameter(QSize size, double diameter) {
    return std::min(diameter, std::hypot(size.width(), size.height()) + 4.0);
}

QRectF circleRect(QSize size, double diameter) {
    diameter = coveringDiameter(size, diameter);
    return QRectF((size.width() - diameter) / 2.0, (size.height() - diameter) / 2.0, diameter, diameter);
}

// Clipped to the image: a shape mask lists only pixels that exist.
QRegion circleRegion(QSize size, double diameter) {
    if (!isDrawableSize(diameter))
        return {};
    const int d = std::max(1, int(std::lround(coveringDiameter(size, diameter))));
    return QRegion((size.width() - d) / 2, (size.height() - d) / 2, d, d, QRegion::Ellipse) &
           QRegion(QRect(QPoint(0, 0), size));
}

void fillRegion(QPainter& painter, const QRegion& region, QColor color) {
    color.setAlpha(255);
    for (const QRect& rect : region)
        painter.fillRect(rect, color);
}

} // namespace

double CursorHighlightView::steadyClockSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

CursorHighlightView::CursorHighlightView(Click& click, HighlightSettings& settings, Clock clock,
                                         QObject* parent)
    : QObject(parent), click_(click), settings_(settings),
      clock_(clock ? std::move(clock) : Clock(&CursorHighlightView::steadyClockSeconds)),
      clickSpring_(click.isClicked() ? 1.0 : 0.0, kSpringResponseSeconds) {
    frameTimer_.setTimerType(Qt::PreciseTimer);
    frameTimer_.setInterval(kFrameIntervalMs);
    connect(&frameTimer_, &QTimer::timeout, this, &CursorHighlightView::onFrame);
    connect(&click_, &Click::isClickedChanged, this, &CursorHighlightView::onClickChanged);

    for (auto signal : {&HighlightSettings::baseOpacityChanged, &HighlightSettings::baseSizeChanged,
                        &HighlightSettings::clickOpacityChanged, &HighlightSettings::clickSizeChanged})
        connect(&settings_, signal, this, &CursorHighlightView::needsRedraw);
    for (auto signal : {&HighlightSettings::baseColorChanged, &HighlightSettings::clickColorChanged})
        connect(&settings_, signal, this, &CursorHighlightView::needsRedraw);
}

CursorHighlightView::CursorHighlightView(Click& click, HighlightSettings& settings, QObject* parent)
    : CursorHighlightView(click, settings, Clock(), parent) {}

void CursorHighlightView::onClickChanged(bool isClicked) {
    if (isClicked) {
        // Ends the click look; tied to the flag's owner so nothing here can cancel it.
        Click* click = &click_;
        QTimer::singleShot(std::chrono::milliseconds(int(kClickHoldSeconds * 1000)), Qt::PreciseTimer, click,
                           [click] { click->setClicked(false); });
    }
    clickSpring_.setTarget(isClicked ? 1.0 : 0.0, clock_());
    if (!frameTimer_.isActive())
        frameTimer_.start();
    emit needsRedraw();
}

void CursorHighlightView::onFrame() {
    if (clickSpring_.isSettled(clock_()))
        frameTimer_.stop();
    emit needsRedraw();
}

double CursorHighlightView::clickOpacity() const {
    return clamp01(clickSpring_.value(clock_()));
}

bool CursorHighlightView::baseVisibleWhenSolid() const {
    return settings_.baseColor().alphaF() * clamp01(settings_.baseOpacity()) >= kSolidVisibilityThreshold;
}

bool CursorHighlightView::clickVisibleWhenSolid() const {
    return settings_.clickColor().alphaF() * clamp01(settings_.clickOpacity()) * clickOpacity() >=
           kSolidVisibilityThreshold;
}

void CursorHighlightView::render(QImage& target, RenderMode mode) const {
    if (target.isNull())
        return;
    if (target.format() != QImage::Format_ARGB32_Premultiplied)
        target.convertTo(QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    QPainter painter(&target);

    if (mode == RenderMode::Solid) {
        if (baseVisibleWhenSolid())
            fillRegion(painter, circleRegion(target.size(), baseDiameter()), settings_.baseColor());
        if (clickVisibleWhenSolid())
            fillRegion(painter, circleRegion(target.size(), clickDiameter()), settings_.clickColor());
        return;
    }

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const auto drawCircle = [&](double diameter, const QColor& color) {
        if (!isDrawableSize(diameter) || color.alpha() == 0)
            return;
        painter.setBrush(color);
        painter.drawEllipse(circleRect(target.size(), diameter));
    };
    drawCircle(baseDiameter(), withOpacity(settings_.baseColor(), settings_.baseOpacity()));
    drawCircle(clickDiameter(),
               withOpacity(settings_.clickColor(), clamp01(settings_.clickOpacity()) * clickOpacity()));
}

void CursorHighlightView::setScale(double scale) {
    const double bounded = std::isfinite(scale) && scale > 0 ? scale : 1.0;
    if (bounded == scale_)
        return;
    scale_ = bounded;
    emit needsRedraw();
}

double CursorHighlightView::baseDiameter() const {
    return settings_.baseSize() * scale_;
}

double CursorHighlightView::clickDiameter() const {
    return settings_.clickSize() * scale_;
}

QRegion CursorHighlightView::shape(QSize size, RenderMode mode) const {
    QRegion region;
    if (mode == RenderMode::Solid) {
        if (baseVisibleWhenSolid())
            region += circleRegion(size, baseDiameter());
        if (clickVisibleWhenSolid())
            region += circleRegion(size, clickDiameter());
        return region;
    }
    // Anti-aliased edges reach up to a pixel beyond the circle.
    if (withOpacity(settings_.baseColor(), settings_.baseOpacity()).alpha() > 0)
        region += circleRegion(size, baseDiameter() + 2.0);
    if (withOpacity(settings_.clickColor(), clamp01(settings_.clickOpacity()) * clickOpacity()).alpha() > 0)
        region += circleRegion(size, clickDiameter() + 2.0);
    return region;
}
