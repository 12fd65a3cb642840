// Build tool: writes the application icon as PNG files of the hicolor theme.
// Usage: lumarex-icons OUTPUT-FOLDER SIZE...  → OUTPUT-FOLDER/SIZExSIZE/apps/APP-ID.png
#include "app/ApplicationIcon.h"
#include "lumarex/Product.h"

#include <QDir>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: lumarex-icons OUTPUT-FOLDER SIZE...\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QImage image = ApplicationIcon::image(size);
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = output.filePath(folder + u'/' + QString::fromLatin1(product::appId) + ".png");
        if (image.isNull() || !output.mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "lumarex-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
