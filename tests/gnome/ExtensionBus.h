#pragma once

#include "support/Rgb.h"

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <string>

// Where the Lumarex GNOME Shell extension answers on the session bus, which of its install components
// suits the Shell here, and the screen colour at a point of a Shell screenshot, for the GNOME tests.
namespace gnometest {

inline const QString kService = "example.quorvel.Lumarex.Shell";
inline const QString kPath = "/example/quorvel/Lumarex/Shell";
inline const QString kInterface = "example.quorvel.Lumarex.Shell1";

// The extension's flavour that the installed GNOME Shell loads: 45 and later take ECMAScript modules,
// 43 and 44 only scripts.
inline std::string extensionComponent() {
    QProcess shell;
    shell.start("gnome-shell", {"--version"});
    shell.waitForFinished(30000);
    const auto match =
        QRegularExpression(R"((\d+)\.\d+)").match(QString::fromUtf8(shell.readAllStandardOutput()));
    const int major = match.hasMatch() ? match.captured(1).toInt() : 0;
    return major >= 45 ? "gnome-shell-extension-45" : "gnome-shell-extension-43";
}

inline testsupport::Rgb pixelAt(const QImage& image, QPoint point) {
    const QRgb p = image.pixel(point);
    return {qRed(p), qGreen(p), qBlue(p)};
}

} // namespace gnometest
