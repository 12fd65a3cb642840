#include "app/ApplicationIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resources live in a static library, whose registration the linker would drop unasked.
static void registerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

QImage ApplicationIcon::image(int size) {
    registerResources();
    QSvgRenderer renderer(QStringLiteral(":/AppIcon.svg"));
    if (!renderer.isValid() || size <= 0)
        return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return image;
}

QList<int> ApplicationIcon::standardSizes() {
    return {16, 22, 24, 32, 48, 64, 128, 256};
}

QIcon ApplicationIcon::icon() {
    QIcon icon;
    for (int size : standardSizes())
        icon.addPixmap(QPixmap::fromImage(image(size)));
    return icon;
}
