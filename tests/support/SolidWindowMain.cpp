// lumarex-solid-window COLOUR WIDTH HEIGHT: a toolkit window of one colour, for end-to-end tests that need
// another application's native window (on Wayland, a window of a client other than Lumarex) to draw over
// and to hold the keyboard focus. Prints "shown" once the window is exposed.
#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class SolidWindow : public QWidget {
  protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        // Exposure follows the show; a frame later the compositor has the first buffer.
        QTimer::singleShot(100, this, [] {
            std::puts("shown");
            std::fflush(stdout);
        });
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4 || !QColor::isValidColorName(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: lumarex-solid-window COLOUR WIDTH HEIGHT\n");
        return 2;
    }
    SolidWindow window;
    window.setWindowTitle(QStringLiteral("Solid window"));
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(QString::fromLocal8Bit(argv[1])));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.resize(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
    window.show();
    return app.exec();
}
