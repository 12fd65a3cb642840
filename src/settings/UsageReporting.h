#pragma once

#include <functional>

// Whether anonymous usage reports are sent, as the settings view shows and switches it. The application
// hands the view one over its analytics; the view itself knows nothing of how reports are made.
// Thread-safety: GUI thread only.
class UsageReporting {
  public:
    virtual ~UsageReporting() = default;

    // False when the environment (DO_NOT_TRACK) switched reporting off: then nothing here turns it on.
    virtual bool isSwitchable() const = 0;
    // Whether reports are sent now.
    virtual bool isEnabled() const = 0;
    // The user's choice. `done` runs later on the GUI thread, once the choice is in force, told whether
    // it was also stored for the next start.
    virtual void setEnabled(bool enabled, std::function<void(bool stored)> done) = 0;
};
