#include "HighlightEffect.h"

#include "HighlightService.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

// As the application's drawing view animates the click circle.
constexpr double kSpringResponseSeconds = 0.3;

double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(std::clamp(opacity, 0.0, 1.0));
    return colour;
}

// An opaque, anti-aliased disc `diameter` device pixels across, centred in a square image with a pixel
// of room on each side; premultiplied, so that drawing it modulated by an opacity is plain source-over.
QImage disc(double diameter, const QColor& colour) {
    const int side = int(std::ceil(diameter)) + 2;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(side / 2.0, side / 2.0), diameter / 2, diameter / 2);
    return image;
}

} // namespace

HighlightEffect::HighlightEffect() : clickSpring_(0.0, kSpringResponseSeconds) {
    connect(KWin::effects, &KWin::EffectsHandler::mouseChanged, this,
            [this](const kwinapi::PointerPosition& pos, const kwinapi::PointerPosition& oldPos,
                   Qt::MouseButtons buttons, Qt::MouseButtons oldButtons, Qt::KeyboardModifiers,
                   Qt::KeyboardModifiers) {
                onMouseChanged(pos, oldPos, buttons, oldButtons);
            });
    service_ = new HighlightService(*this, this);
}

HighlightEffect::~HighlightEffect() {
    if (shown_)
        kwinapi::stopPointerUpdates();
}

void HighlightEffect::setLook(const HighlightLook& look) {
    const QRectF before = area(painted_);
    look_ = look;
    textureScale_ = 0.0;
    if (shown_) {
        KWin::effects->addRepaint(before.toAlignedRect());
        KWin::effects->addRepaint(area(painted_).toAlignedRect());
    }
}

void HighlightEffect::show() {
    if (shown_)
        return;
    shown_ = true;
    painted_ = KWin::effects->cursorPos();
    kwinapi::startPointerUpdates();
    KWin::effects->addRepaint(area(painted_).toAlignedRect());
    emit shownChanged(true);
}

void HighlightEffect::hide() {
    if (!shown_)
        return;
    shown_ = false;
    kwinapi::stopPointerUpdates();
    KWin::effects->addRepaint(area(painted_).toAlignedRect());
    emit shownChanged(false);
}

void HighlightEffect::setClicked(bool clicked) {
    clickSpring_.setTarget(clicked ? 1.0 : 0.0, seconds());
    if (shown_)
        KWin::effects->addRepaint(area(painted_).toAlignedRect());
}

void HighlightEffect::onMouseChanged(QPointF pos, QPointF oldPos, Qt::MouseButtons buttons,
                                     Qt::MouseButtons oldButtons) {
    if (!shown_)
        return;
    if (pos != oldPos) {
        KWin::effects->addRepaint(area(painted_).toAlignedRect());
        KWin::effects->addRepaint(area(pos).toAlignedRect());
    }
    if ((buttons & Qt::LeftButton) && !(oldButtons & Qt::LeftButton))
        emit leftPressed(pos);
}

QRectF HighlightEffect::area(QPointF centre) const {
    // One point of margin for the edges' rounding.
    const double extent = std::max(look_.baseSize, look_.clickSize) + 2.0;
    return {centre.x() - extent / 2, centre.y() - extent / 2, extent, extent};
}

double HighlightEffect::clickLevel() const {
    return std::clamp(clickSpring_.value(seconds()), 0.0, 1.0);
}

void HighlightEffect::prePaintScreen(KWin::ScreenPrePaintData& data, std::chrono::milliseconds presentTime) {
    // The pointer's place when this frame is composed; it is what gets painted and later repainted.
    painted_ = KWin::effects->cursorPos();
    KWin::effects->prePaintScreen(data, presentTime);
}

#if LUMAREX_KWIN_MAJOR >= 6
void HighlightEffect::paintScreen(const KWin::RenderTarget& renderTarget,
                                  const KWin::RenderViewport& viewport, int mask, const QRegion& region,
                                  KWin::Output* screen) {
    KWin::effects->paintScreen(renderTarget, viewport, mask, region, screen);
    paintHighlight(viewport.projectionMatrix(), viewport.scale());
}
#else
void HighlightEffect::paintScreen(int mask, const QRegion& region, KWin::ScreenPaintData& data) {
    KWin::effects->paintScreen(mask, region, data);
    paintHighlight(data.projectionMatrix(), KWin::effects->renderTargetScale());
}
#endif

void HighlightEffect::paintHighlight(const QMatrix4x4& projection, double scale) {
    if (!shown_)
        return;
    const double level = clickLevel();
    if (KWin::effects->isOpenGLCompositing())
        paintGl(projection, scale, painted_, level);
    else if (KWin::effects->compositingType() == KWin::QPainterCompositing)
        paintQPainter(painted_, level);
}

void HighlightEffect::postPaintScreen() {
    KWin::effects->postPaintScreen();
    // The click circle's opacity moves on its own clock: keep frames coming until it settles.
    if (shown_ && !clickSpring_.isSettled(seconds()))
        KWin::effects->addRepaint(area(painted_).toAlignedRect());
}

void HighlightEffect::prepareTextures(double scale) {
    if (scale == textureScale_ && baseTexture_ && clickTexture_)
        return;
    baseTexture_ = kwinapi::upload(disc(look_.baseSize * scale, look_.baseColor));
    clickTexture_ = kwinapi::upload(disc(look_.clickSize * scale, look_.clickColor));
    for (KWin::GLTexture* texture : {baseTexture_.get(), clickTexture_.get()}) {
        texture->setFilter(GL_LINEAR);
        texture->setWrapMode(GL_CLAMP_TO_EDGE);
    }
    textureScale_ = scale;
}

void HighlightEffect::paintGl(const QMatrix4x4& projection, double scale, QPointF centre, double clickLevel) {
    prepareTextures(scale);
    if (!baseTexture_ || !clickTexture_)
        return;
    KWin::GLShader* shader =
        KWin::ShaderManager::instance()->pushShader(KWin::ShaderTrait::MapTexture | KWin::ShaderTrait::Modulate);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    const auto draw = [&](KWin::GLTexture& texture, double opacity) {
        const float alpha = float(std::clamp(opacity, 0.0, 1.0));
        if (alpha <= 0.0f)
            return;
        // Whole device pixels, so the disc's centre pixel is exactly its colour.
        QMatrix4x4 mvp = projection;
        mvp.translate(std::round(centre.x() * scale - texture.width() / 2.0),
                      std::round(centre.y() * scale - texture.height() / 2.0));
        kwinapi::setTransform(*shader, mvp, QVector4D(alpha, alpha, alpha, alpha));
        kwinapi::render(texture);
    };
    draw(*baseTexture_, look_.baseOpacity);
    draw(*clickTexture_, look_.clickOpacity * clickLevel);
    glDisable(GL_BLEND);
    KWin::ShaderManager::instance()->popShader();
}

void HighlightEffect::paintQPainter(QPointF centre, double clickLevel) {
    QPainter* painter = KWin::effects->scenePainter();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    const auto fill = [&](double diameter, const QColor& colour) {
        painter->setBrush(colour);
        painter->drawEllipse(centre, diameter / 2, diameter / 2);
    };
    fill(look_.baseSize, withOpacity(look_.baseColor, look_.baseOpacity));
    fill(look_.clickSize, withOpacity(look_.clickColor, look_.clickOpacity * clickLevel));
    painter->restore();
}
