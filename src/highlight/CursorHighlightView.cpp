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
    : QObject(parent), m_click(click), m_settings(settings),
      m_clock(clock ? std::move(clock) : Clock(&CursorHighlightView::steadyClockSeconds)),
      m_clickSpring(click.isClicked() ? 1.0 : 0.0, kSpringResponseSeconds) {
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    m_frameTimer.setInterval(kFrameIntervalMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &CursorHighlightView::onFrame);
    connect(&m_click, &Click::isClickedChanged, this, &CursorHighlightView::onClickChanged);

    for (auto signal : {&HighlightSettings::baseOpacityChanged, &HighlightSettings::baseSizeChanged,
                        &HighlightSettings::clickOpacityChanged, &HighlightSettings::clickSizeChanged})
        connect(&m_settings, signal, this, &CursorHighlightView::needsRedraw);
    for (auto signal : {&HighlightSettings::baseColorChanged, &HighlightSettings::clickColorChanged})
        connect(&m_settings, signal, this, &CursorHighlightView::needsRedraw);
}

CursorHighlightView::CursorHighlightView(Click& click, HighlightSettings& settings, QObject* parent)
    : CursorHighlightView(click, settings, Clock(), parent) {}

void CursorHighlightView::onClickChanged(bool isClicked) {
    if (isClicked) {
        // Ends the click look; tied to the flag's owner so nothing here can cancel it.
        Click* click = &m_click;
        QTimer::singleShot(std::chrono::milliseconds(int(kClickHoldSeconds * 1000)), Qt::PreciseTimer, click,
                           [click] { click->setClicked(false); });
    }
    m_clickSpring.setTarget(isClicked ? 1.0 : 0.0, m_clock());
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
    emit needsRedraw();
}

void CursorHighlightView::onFrame() {
    if (m_clickSpring.isSettled(m_clock()))
        m_frameTimer.stop();
    emit needsRedraw();
}

double CursorHighlightView::clickOpacity() const {
    return clamp01(m_clickSpring.value(m_clock()));
}

bool CursorHighlightView::baseVisibleWhenSolid() const {
    return m_settings.baseColor().alphaF() * clamp01(m_settings.baseOpacity()) >= kSolidVisibilityThreshold;
}

bool CursorHighlightView::clickVisibleWhenSolid() const {
    return m_settings.clickColor().alphaF() * clamp01(m_settings.clickOpacity()) * clickOpacity() >=
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
            fillRegion(painter, circleRegion(target.size(), baseDiameter()), m_settings.baseColor());
        if (clickVisibleWhenSolid())
            fillRegion(painter, circleRegion(target.size(), clickDiameter()), m_settings.clickColor());
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
    drawCircle(baseDiameter(), withOpacity(m_settings.baseColor(), m_settings.baseOpacity()));
    drawCircle(clickDiameter(),
               withOpacity(m_settings.clickColor(), clamp01(m_settings.clickOpacity()) * clickOpacity()));
}

void CursorHighlightView::setScale(double scale) {
    const double bounded = std::isfinite(scale) && scale > 0 ? scale : 1.0;
    if (bounded == m_scale)
        return;
    m_scale = bounded;
    emit needsRedraw();
}

double CursorHighlightView::baseDiameter() const { return m_settings.baseSize() * m_scale; }

double CursorHighlightView::clickDiameter() const { return m_settings.clickSize() * m_scale; }

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
    if (withOpacity(m_settings.baseColor(), m_settings.baseOpacity()).alpha() > 0)
        region += circleRegion(size, baseDiameter() + 2.0);
    if (withOpacity(m_settings.clickColor(), clamp01(m_settings.clickOpacity()) * clickOpacity()).alpha() > 0)
        region += circleRegion(size, clickDiameter() + 2.0);
    return region;
}
