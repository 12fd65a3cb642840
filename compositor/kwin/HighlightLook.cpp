#include "HighlightLook.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace {

constexpr double kMinSize = 10.0;
constexpr double kMaxSize = 100.0;

bool isColour(const QString& text) {
    static const QRegularExpression hex(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    return hex.match(text).hasMatch();
}

bool isOpacity(double value) {
    return std::isfinite(value) && value >= 0.0 && value <= 1.0;
}

bool isSize(double value) {
    return std::isfinite(value) && value >= kMinSize && value <= kMaxSize;
}

} // namespace

QString HighlightLook::parse(const QString& baseColor, double baseOpacity, double baseSize, const QString& clickColor,
                             double clickOpacity, double clickSize, HighlightLook* look) {
    QStringList problems;
    if (!isColour(baseColor))
        problems << QStringLiteral("base colour \"%1\" is not #RRGGBB").arg(baseColor);
    if (!isColour(clickColor))
        problems << QStringLiteral("click colour \"%1\" is not #RRGGBB").arg(clickColor);
    if (!isOpacity(baseOpacity))
        problems << QStringLiteral("base opacity %1 is not within 0..1").arg(baseOpacity);
    if (!isOpacity(clickOpacity))
        problems << QStringLiteral("click opacity %1 is not within 0..1").arg(clickOpacity);
    if (!isSize(baseSize))
        problems << QStringLiteral("base size %1 is not within %2..%3").arg(baseSize).arg(kMinSize).arg(kMaxSize);
    if (!isSize(clickSize))
        problems << QStringLiteral("click size %1 is not within %2..%3").arg(clickSize).arg(kMinSize).arg(kMaxSize);
    if (problems.isEmpty())
        *look = {QColor(baseColor), baseOpacity, baseSize, QColor(clickColor), clickOpacity, clickSize};
    return problems.join(QStringLiteral("; "));
}
