#include "kde/TrayWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>

#include <stdexcept>

namespace kdetest {

using namespace std::chrono_literals;

namespace {

const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");

bool registered(testsupport::KWinSession& kwin) {
    return kwin.bus().interface()->isServiceRegistered(kService);
}

} // namespace

TrayWatcher::TrayWatcher(testsupport::KWinSession& kwin, Host host) : kwin_(kwin) {
    std::vector<std::string> argv{LUMAREX_TRAY_WATCHER_PATH};
    if (host == Host::Later)
        argv.push_back("--host-later");
    process_ = std::make_unique<testsupport::ChildProcess>(
        testsupport::ChildProcess::Options{
            .argv = argv, .env = kwin.clientEnvironment(), .silenceStdout = true, .extraFds = {}});
    if (!testsupport::KWinSession::waitUntil([&] { return registered(kwin_); }, 10s))
        throw std::runtime_error("the tray registry did not come up on the session bus");
}

TrayWatcher::~TrayWatcher() {
    process_->terminate();
    testsupport::KWinSession::waitUntil([&] { return !registered(kwin_); }, 5s);
}

void TrayWatcher::registerHost() {
    QDBusInterface(kService, kPath, kService, kwin_.bus())
        .call(QStringLiteral("RegisterStatusNotifierHost"), kwin_.bus().baseService());
}

QStringList TrayWatcher::items() {
    return QDBusInterface(kService, kPath, kService, kwin_.bus())
        .property("RegisteredStatusNotifierItems")
        .toStringList();
}

} // namespace kdetest
