#include "UpdaterDelegate.h"

#include "lumarex/Product.h"

#include <QtGlobal>

namespace {

QString feedUrlFromEnvironment() {
    const QString overridden = qEnvironmentVariable("LUMAREX_UPDATE_FEED_URL").trimmed();
    return overridden.isEmpty() ? QString::fromUtf8(product::updateFeed) : overridden;
}

} // namespace

UpdaterDelegate& UpdaterDelegate::shared() {
    // Deliberately never destroyed: an updater may still ask during static destruction.
    static auto* instance = new UpdaterDelegate;
    return *instance;
}

UpdaterDelegate::UpdaterDelegate() : feedUrl_(feedUrlFromEnvironment()) {}

UpdaterDelegate::UpdaterDelegate(QString feedUrl) : feedUrl_(std::move(feedUrl)) {}

QString UpdaterDelegate::feedURLStringForUpdater(const SoftwareUpdater*) const {
    return feedUrl_;
}
