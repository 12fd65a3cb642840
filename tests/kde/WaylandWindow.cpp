#include "kde/WaylandWindow.h"

#include <QColor>
#include <QImage>

#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace kdetest {

using namespace std::chrono_literals;

WaylandWindow::WaylandWindow(testsupport::KWinSession& kwin, const std::string& colour) {
    testsupport::Environment env = kwin.clientEnvironment();
    env["QT_QPA_PLATFORM"] = "wayland";
    process_ = std::make_unique<testsupport::ChildProcess>(testsupport::ChildProcess::Options{
        .argv = {LUMAREX_WAYLAND_WINDOW_PATH, colour}, .env = env, .captureStdout = true, .extraFds = {}});
    const QColor expected(QString::fromStdString(colour));
    const bool covers = testsupport::KWinSession::waitUntil(
        [&] {
            const QImage shot = kwin.screenshot();
            return !shot.isNull() && QColor(shot.pixel(shot.width() / 2, shot.height() / 2)) == expected &&
                   QColor(shot.pixel(1, 1)) == expected;
        },
        20s);
    if (!covers)
        throw std::runtime_error("the Wayland window " + colour + " never covered the workspace");
}

std::string WaylandWindow::nextLine(std::chrono::milliseconds timeout) {
    return process_->readStdoutLine(timeout);
}

} // namespace kdetest
