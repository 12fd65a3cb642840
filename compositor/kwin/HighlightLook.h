#pragma once

#include <QColor>
#include <QString>

// What the highlight looks like: the base circle and the click circle, each a colour, an opacity (0..1)
// and a diameter in logical points (10..100), as the application's settings hold them.
// Thread-safety: a value type.
struct HighlightLook {
    QColor baseColor{255, 0, 0};
    double baseOpacity = 0.3;
    double baseSize = 30.0;
    QColor clickColor{255, 0, 0};
    double clickOpacity = 0.6;
    double clickSize = 40.0;

    // The look the bus call's arguments describe, or what is wrong with them (empty when nothing is).
    static QString parse(const QString& baseColor, double baseOpacity, double baseSize, const QString& clickColor,
                         double clickOpacity, double clickSize, HighlightLook* look);
};
