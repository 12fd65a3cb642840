#pragma once

#include "support/Rgb.h"

#include <QImage>
#include <QPoint>
#include <QString>

// Where the Lumarex KWin effect answers on the session bus, how KWin's configuration enables it, and the
// screen colour at a point of a KWin screenshot, for the KDE tests.
namespace kdetest {

inline const QString kService = "example.quorvel.Lumarex.KWin";
inline const QString kPath = "/example/quorvel/Lumarex/KWin";
inline const QString kInterface = "example.quorvel.Lumarex.KWin1";
inline const std::string kEnableEffect = "[Plugins]\n" LUMAREX_KWIN_EFFECT_ID "Enabled=true\n";

inline testsupport::Rgb pixelAt(const QImage& image, QPoint point) {
    const QRgb p = image.pixel(point);
    return {qRed(p), qGreen(p), qBlue(p)};
}

} // namespace kdetest
