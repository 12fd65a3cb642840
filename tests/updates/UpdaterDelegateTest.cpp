#include "RecordingUserDriver.h"

#include "updates/SoftwareUpdater.h"
#include "updates/UpdaterDelegate.h"

#include <gtest/gtest.h>

#include <QUrl>

namespace {

TEST(UpdaterDelegateTest, DefaultFeedIsTheMakersHttpsAppcast) {
    qunsetenv("LUMAREX_UPDATE_FEED_URL");
    const UpdaterDelegate delegate;
    const QString first = delegate.feedURLStringForUpdater();
    const QUrl url(first, QUrl::StrictMode);
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_EQ(url.host(), "updates.quorvel.example");
    EXPECT_EQ(url.path(), "/highlighter/appcast.xml");
    EXPECT_EQ(delegate.feedURLStringForUpdater(), first);
    const SoftwareUpdater updater(delegate, std::make_unique<RecordingUserDriver>(), {});
    EXPECT_EQ(delegate.feedURLStringForUpdater(&updater), first);
}

// The only test in this program that touches the shared instance, so its first use happens here.
TEST(UpdaterDelegateTest, SharedInstanceReadsTheOverrideOnceAtFirstUse) {
    qputenv("LUMAREX_UPDATE_FEED_URL", "http://127.0.0.1:9/feed.xml");
    UpdaterDelegate& shared = UpdaterDelegate::shared();
    EXPECT_EQ(shared.feedURLStringForUpdater(), "http://127.0.0.1:9/feed.xml");

    qputenv("LUMAREX_UPDATE_FEED_URL", "http://127.0.0.1:10/other.xml");
    EXPECT_EQ(&UpdaterDelegate::shared(), &shared);
    EXPECT_EQ(UpdaterDelegate::shared().feedURLStringForUpdater(), "http://127.0.0.1:9/feed.xml");
    qunsetenv("LUMAREX_UPDATE_FEED_URL");
    EXPECT_EQ(UpdaterDelegate::shared().feedURLStringForUpdater(), "http://127.0.0.1:9/feed.xml");

    // An empty override counts as none.
    qputenv("LUMAREX_UPDATE_FEED_URL", "  ");
    EXPECT_EQ(UpdaterDelegate().feedURLStringForUpdater(),
              "https://updates.quorvel.example/highlighter/appcast.xml");
    qunsetenv("LUMAREX_UPDATE_FEED_URL");
}

} // namespace
