#pragma once

#include "support/ChildProcess.h"
#include "support/KWinSession.h"

#include <QStringList>

#include <memory>

// The desktop's tray registry (org.kde.StatusNotifierWatcher, lumarex-tray-watcher) on a headless
// KWin's session bus, and what it has registered. Its destruction ends it, as a restarting Plasma does.
// Thread-safety: one owner thread.
namespace kdetest {

class TrayWatcher {
  public:
    // Whether a host that shows the items comes with the registry or registers later, as Plasma's panel
    // does after the registry at login.
    enum class Host { WithRegistry, Later };

    // Returns once the registry owns its name; throws std::runtime_error otherwise.
    TrayWatcher(testsupport::KWinSession& kwin, Host host);
    ~TrayWatcher();

    // Registers the test's own connection as the host.
    void registerHost();
    // RegisteredStatusNotifierItems: "SERVICE/PATH" each.
    QStringList items();

  private:
    testsupport::KWinSession& kwin_;
    std::unique_ptr<testsupport::ChildProcess> process_;
};

} // namespace kdetest
