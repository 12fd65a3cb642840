#include "analytics/Analytics.h"
#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/ContentView.h"
#include "app/InstanceChannel.h"
#include "app/QuorvelApp.h"
#include "app/SingleInstance.h"
#include "highlight/CursorHighlightWindow.h"
#include "highlight/HighlightSettings.h"
#include "lumarex/Product.h"
#include "platform/x11/X11Connection.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Everything below needs an X server; say clearly which one is missing rather than crash in Qt.
bool haveX11Display() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland)
            std::fprintf(stderr, "lumarex: this is a Wayland session without X11 support: Lumarex needs an "
                                 "X11 session or XWayland (DISPLAY is not set)\n");
        else
            std::fprintf(stderr, "lumarex: cannot find an X server: DISPLAY is not set\n");
        return false;
    }
    return true;
}

void setApplicationIdentity() {
    QCoreApplication::setOrganizationName(QString::fromUtf8(product::maker));
    QCoreApplication::setApplicationName(QString::fromUtf8(product::name));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(product::version));
}

int sendToRunningInstance(int argc, char** argv, const std::string& command) {
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    QString error;
    if (!InstanceChannel::send(QString::fromStdString(command), &error)) {
        std::fprintf(stderr, "lumarex: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Diagnostic lines reach a reader of a pipe one by one.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const CommandLine commandLine = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    switch (commandLine.action) {
    case CommandLine::Action::Invalid:
        std::fprintf(stderr, "lumarex: %s\n\n%s", commandLine.error.c_str(), CommandLine::usage().c_str());
        return 2;
    case CommandLine::Action::Help:
        std::fputs(CommandLine::usage().c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("%s %s\n", product::name, product::version);
        return 0;
    case CommandLine::Action::Send:
        if (!haveX11Display())
            return 1;
        return sendToRunningInstance(argc, argv, commandLine.command);
    case CommandLine::Action::Run:
        break;
    }

    if (!haveX11Display())
        return 1;

    // One instance per user and display, decided before the toolkit starts: a hand-over costs next to
    // nothing, and no window flashes up.
    const SingleInstance::Start start = commandLine.replace      ? SingleInstance::Start::Replace
                                        : commandLine.background ? SingleInstance::Start::Background
                                                                 : SingleInstance::Start::Normal;
    SingleInstance::Claim claim =
        SingleInstance::claim(InstanceChannel::serverName().toStdString(), start, std::getenv("DISPLAY"));
    for (const std::string& message : claim.messages)
        std::fprintf(stderr, "lumarex: %s\n", message.c_str());
    if (claim.handedOver)
        return 0;

    // The overlay and the input monitors speak X11 directly, so the toolkit must too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (!X11Connection::shared()) {
        std::fprintf(stderr, "lumarex: cannot open the X display '%s' (DISPLAY)\n", std::getenv("DISPLAY"));
        return 1;
    }

    QApplication app(argc, argv);
    setApplicationIdentity();
    auto platform = AppDelegate::standardPlatform();
    platform.reportLaunch = [] { Analytics::shared().track("app launched"); };
    AppDelegate delegate(HighlightSettings::shared(), CursorHighlightWindow::shared(), std::move(platform));
    QuorvelApp quorvel(CursorHighlightWindow::shared(), HighlightSettings::shared());
    // Only the toolbar button reports; the shortcut and the command line toggle silently.
    QObject::connect(quorvel.mainWindow(), &ContentView::highlightButtonClicked,
                     [] { Analytics::shared().track("highlightButton clicked"); });
    quorvel.setDelegate(&delegate);
    quorvel.start(std::move(claim.socket), !commandLine.background);
    return app.exec();
}
