// lumarex-wayland-window COLOUR [WIDTH HEIGHT]: a native Wayland window painted in one colour (full-screen
// unless a size is given), another application's window for the compositor tests. It prints "press X Y" for each left press and "key TEXT" for each key press it receives, one
// line each, flushed at once.
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>

#include <cstdio>

namespace {

class SolidWindow : public QRasterWindow {
  public:
    explicit SolidWindow(QColor colour) : colour_(colour) {}

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), colour_); }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            report("press %d %d", event->position().toPoint());
    }

    void keyPressEvent(QKeyEvent* event) override {
        std::printf("key %s\n", qPrintable(event->text()));
        std::fflush(stdout);
    }

  private:
    static void report(const char* format, QPoint at) {
        std::printf(format, at.x(), at.y());
        std::printf("\n");
        std::fflush(stdout);
    }

    QColor colour_;
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if ((argc != 2 && argc != 4) || !QColor::isValidColorName(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: lumarex-wayland-window COLOUR [WIDTH HEIGHT]\n");
        return 2;
    }
    SolidWindow window(QColor(QString::fromLocal8Bit(argv[1])));
    if (argc == 4) {
        window.resize(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
        window.show();
    } else {
        window.showFullScreen();
    }
    return app.exec();
}
