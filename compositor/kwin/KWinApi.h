#pragma once

// What the effect uses of KWin where KWin 5 (Qt 5) and KWin 6 (Qt 6) differ, so that one source builds
// against either. LUMAREX_KWIN_MAJOR is set by the build from the KWin it found.

#if LUMAREX_KWIN_MAJOR >= 6
#include <core/renderviewport.h>
#include <effect/effect.h>
#include <effect/effecthandler.h>
#include <opengl/glshader.h>
#include <opengl/glshadermanager.h>
#include <opengl/gltexture.h>
#else
#include <kwineffects.h>
#include <kwinglutils.h>
#endif

#include <QImage>
#include <QMatrix4x4>
#include <QVector4D>

#include <memory>

namespace kwinapi {

// KWin 5 reports the pointer in whole points, KWin 6 in fractions of one.
#if LUMAREX_KWIN_MAJOR >= 6
using PointerPosition = QPointF;
#else
using PointerPosition = QPoint;
#endif

// KWin 5 sends pointer motion to effects only while one of them asks it to; KWin 6 always does.
inline void startPointerUpdates() {
#if LUMAREX_KWIN_MAJOR < 6
    KWin::effects->startMousePolling();
#endif
}

inline void stopPointerUpdates() {
#if LUMAREX_KWIN_MAJOR < 6
    KWin::effects->stopMousePolling();
#endif
}

inline std::unique_ptr<KWin::GLTexture> upload(const QImage& image) {
#if LUMAREX_KWIN_MAJOR >= 6
    return KWin::GLTexture::upload(image);
#else
    return std::make_unique<KWin::GLTexture>(image);
#endif
}

inline void setTransform(KWin::GLShader& shader, const QMatrix4x4& modelViewProjection,
                         const QVector4D& modulation) {
#if LUMAREX_KWIN_MAJOR >= 6
    shader.setUniform(KWin::GLShader::Mat4Uniform::ModelViewProjectionMatrix, modelViewProjection);
    shader.setUniform(KWin::GLShader::Vec4Uniform::ModulationConstant, modulation);
#else
    shader.setUniform(KWin::GLShader::ModelViewProjectionMatrix, modelViewProjection);
    shader.setUniform(KWin::GLShader::ModulationConstant, modulation);
#endif
}

// Draws the whole texture, one texel a device pixel, at the transform's origin.
inline void render(KWin::GLTexture& texture) {
    texture.bind();
#if LUMAREX_KWIN_MAJOR >= 6
    texture.render(QSizeF(texture.size()));
#else
    texture.render(QRect(QPoint(), texture.size()), 1.0);
#endif
    texture.unbind();
}

} // namespace kwinapi
