#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace veltrace {
class VeltraceInstance;
}

// The application's one entry to usage reporting. The first use configures the analytics client for the
// whole process (on the calling thread, once); afterwards events go straight to its main instance.
// With DO_NOT_TRACK set (to anything but empty or "0") no client is made at all: nothing is written or
// sent, and events queued by earlier runs stay where they are.
// Thread safety: shared() and track() may be called from any thread; the application calls them on the
// GUI thread, where the client's completions and flush timer then run.
class Analytics {
  public:
    // The analytics project this program reports to.
    static constexpr const char* projectToken = "5e1c0a7f93b24d68a0f1c2e3d4b5a697";

    static Analytics& shared();

    void track(const std::string& event, const std::map<std::string, std::string>& properties = {});

    // Whether reports are sent: the main instance has not opted out. False with DO_NOT_TRACK.
    bool isReportingEnabled() const;
    // The user's choice: opts the main instance in or out, stored by the client for later runs. `done`
    // runs on the GUI thread once the choice is in force, told whether it was stored too. Does nothing
    // with DO_NOT_TRACK, where there is nothing to switch.
    void setReportingEnabled(bool enabled, std::function<void(bool stored)> done = {});

    // Whether DO_NOT_TRACK asks programs not to report.
    static bool desktopOptedOut();

  private:
    Analytics();
    void connectToApplication();

    std::shared_ptr<veltrace::VeltraceInstance> instance_;
};
