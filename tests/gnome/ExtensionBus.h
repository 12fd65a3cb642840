#pragma once

#include "support/Rgb.h"

#include <QImage>
#include <QPoint>
#include <QString>

// Where the Lumarex GNOME Shell extension answers on the session bus, and the screen colour at a point of
// a Shell screenshot, for the GNOME tests.
namespace gnometest {

inline const QString kService = "example.quorvel.Lumarex.Shell";
inline const QString kPath = "/example/quorvel/Lumarex/Shell";
inline const QString kInterface = "example.quorvel.Lumarex.Shell1";

inline testsupport::Rgb pixelAt(const QImage& image, QPoint point) {
    const QRgb p = image.pixel(point);
    return {qRed(p), qGreen(p), qBlue(p)};
}

} // namespace gnometest
