#include "app/AnalyticsReporting.h"

#include "analytics/Analytics.h"

bool AnalyticsReporting::isSwitchable() const {
    return !Analytics::desktopOptedOut();
}

bool AnalyticsReporting::isEnabled() const {
    return Analytics::shared().isReportingEnabled();
}

void AnalyticsReporting::setEnabled(bool enabled, std::function<void(bool stored)> done) {
    Analytics::shared().setReportingEnabled(enabled, std::move(done));
}
