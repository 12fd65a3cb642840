#pragma once

#include "settings/UsageReporting.h"

// The settings view's switch over the application's analytics: the analytics client's own stored
// opt-out of its main instance, so the choice lives where the client reads it, and nowhere else.
// Thread-safety: GUI thread only.
class AnalyticsReporting : public UsageReporting {
  public:
    bool isSwitchable() const override;
    bool isEnabled() const override;
    void setEnabled(bool enabled, std::function<void(bool stored)> done) override;
};
