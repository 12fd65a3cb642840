#pragma once

#include "HighlightLook.h"
#include "KWinApi.h"
#include "highlight/SpringAnimation.h"

#include <QPointF>
#include <QRectF>

#include <memory>

class HighlightService;
class QMatrix4x4;

// The highlight inside KWin: the base circle centred on the pointer and, over it, the click circle,
// whose opacity follows the application's click flag with the highlight's spring. It paints after the
// whole scene, so it is above every window, and it repaints only the circles' squares: when the pointer
// moves, and on the frames of a click animation. It reports left presses while shown. The application
// drives it over the session bus (HighlightService).
// Thread-safety: KWin's main thread only.
class HighlightEffect : public KWin::Effect {
    Q_OBJECT

  public:
    HighlightEffect();
    ~HighlightEffect() override;

    // Draws in OpenGL and QPainter scenes alike.
    static bool supported() { return true; }

    void prePaintScreen(KWin::ScreenPrePaintData& data, std::chrono::milliseconds presentTime) override;
#if LUMAREX_KWIN_MAJOR >= 6
    void paintScreen(const KWin::RenderTarget& renderTarget, const KWin::RenderViewport& viewport, int mask,
                     const QRegion& region, KWin::Output* screen) override;
#else
    void paintScreen(int mask, const QRegion& region, KWin::ScreenPaintData& data) override;
#endif
    void postPaintScreen() override;
    bool isActive() const override { return shown_; }
    // Above the other effects' drawing.
    int requestedEffectChainPosition() const override { return 99; }

    void setLook(const HighlightLook& look);
    void show();
    void hide();
    bool isShown() const { return shown_; }
    void setClicked(bool clicked);

  signals:
    void leftPressed(QPointF position);
    void shownChanged(bool shown);

  private:
    void onMouseChanged(QPointF pos, QPointF oldPos, Qt::MouseButtons buttons, Qt::MouseButtons oldButtons);
    // The square the circles cover around `centre`, in logical coordinates.
    QRectF area(QPointF centre) const;
    double clickLevel() const;
    // Draws the circles over the composed scene, with the scene's projection and device pixels a point.
    void paintHighlight(const QMatrix4x4& projection, double scale);
    void paintGl(const QMatrix4x4& projection, double scale, QPointF centre, double clickLevel);
    // The circles as anti-aliased textures at `scale` device pixels a point, made again when the look or
    // the scale changes.
    void prepareTextures(double scale);
    void paintQPainter(QPointF centre, double clickLevel);

    HighlightLook look_;
    bool shown_ = false;
    SpringAnimation clickSpring_;
    QPointF painted_;
    HighlightService* service_ = nullptr;
    std::unique_ptr<KWin::GLTexture> baseTexture_;
    std::unique_ptr<KWin::GLTexture> clickTexture_;
    double textureScale_ = 0.0;
};
