#include "analytics/Analytics.h"
#include "app/AnalyticsReporting.h"
#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/ContentView.h"
#include "app/DesktopNotification.h"
#include "app/InstanceChannel.h"
#include "app/QuorvelApp.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "highlight/CursorHighlightWindow.h"
#include "highlight/HighlightSettings.h"
#include "lumarex/Product.h"
#include "platform/DesktopPlatform.h"
#include "platform/HighlightOverlay.h"
#include "platform/PlatformFactory.h"
#include "settings/SettingsView.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

namespace {

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

void tellTheDesktop(int argc, char** argv, const std::string& problem) {
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    QString error;
    if (!DesktopNotification::send(QStringLiteral("Lumarex cannot run on this desktop"),
                                   QString::fromStdString(problem), &error))
        std::fprintf(stderr, "lumarex: cannot show this in a notification either: %s\n", qPrintable(error));
}

} // namespace

int main(int argc, char** argv) {
    // Diagnostic lines reach a reader of a pipe one by one.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const CommandLine commandLine = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    const PlatformFactory::Session session = PlatformFactory::Session::fromEnvironment();
    const PlatformFactory::Choice platform = PlatformFactory::choose(session);
    const auto unusable = [&platform] {
        if (platform.backend != PlatformFactory::Backend::None)
            return false;
        std::fprintf(stderr, "lumarex: %s\n", platform.problem.c_str());
        return true;
    };
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
        if (unusable())
            return 1;
        return sendToRunningInstance(argc, argv, commandLine.command);
    case CommandLine::Action::Run:
        break;
    }

    if (unusable()) {
        // Started from the desktop's launcher, nobody reads standard error: on a Wayland desktop Lumarex
        // cannot draw on, the desktop's notifications say it too.
        if (!session.waylandDisplay.empty())
            tellTheDesktop(argc, argv, platform.problem);
        return 1;
    }

    // One instance per user and display, decided before the toolkit starts: a hand-over costs next to
    // nothing, and no window flashes up.
    const SingleInstance::Start start = commandLine.replace      ? SingleInstance::Start::Replace
                                        : commandLine.background ? SingleInstance::Start::Background
                                                                 : SingleInstance::Start::Normal;
    SingleInstance::Claim claim = SingleInstance::claim(InstanceChannel::serverName().toStdString(), start,
                                                        InstanceChannel::display().toStdString());
    for (const std::string& message : claim.messages)
        std::fprintf(stderr, "lumarex: %s\n", message.c_str());
    if (claim.handedOver)
        return 0;

    std::string error;
    std::unique_ptr<DesktopPlatform> desktop = PlatformFactory::open(platform, &error);
    if (!desktop) {
        std::fprintf(stderr, "lumarex: %s\n", error.c_str());
        return 1;
    }

    QApplication app(argc, argv);
    setApplicationIdentity();
    // Logout, kill and Ctrl+C quit as the Quit command does.
    const TerminationSignals terminationSignals([](int) { QCoreApplication::quit(); });
    int status = 0;
    {
        HighlightSettings& settings = HighlightSettings::shared();
        CursorHighlightWindow overlay(
            [&desktop](HighlightSettings& look, Click& click) { return desktop->makeOverlay(look, click); },
            settings);
        auto delegatePlatform = AppDelegate::standardPlatform(*desktop);
        delegatePlatform.reportLaunch = [] { Analytics::shared().track("app launched"); };
        AppDelegate delegate(settings, overlay, std::move(delegatePlatform));
        AnalyticsReporting reporting;
        QuorvelApp quorvel(overlay, settings, desktop->trust(), desktop->keyTranslator());
        // Only the toolbar button reports; the shortcut and the command line toggle silently.
        QObject::connect(quorvel.mainWindow(), &ContentView::highlightButtonClicked,
                         [] { Analytics::shared().track("highlightButton clicked"); });
        quorvel.mainWindow()->settingsView()->setUsageReporting(&reporting);
        quorvel.setDelegate(&delegate);
        quorvel.start(std::move(claim.socket), !commandLine.background);
        status = app.exec();
    }
    // While the application object still exists: the backend's connections are watched through it.
    desktop.reset();
    return status;
}
