#include "FeedServer.h"
#include "RecordingUserDriver.h"
#include "UpdaterWait.h"

#include "updates/CheckForUpdatesView.h"
#include "updates/CheckForUpdatesViewModel.h"
#include "updates/SoftwareUpdater.h"
#include "updates/UpdaterDelegate.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include <memory>

namespace {

const char* const appcast =
    "<rss version=\"2.0\" xmlns:lx=\"https://quorvel.example/xml/appcast\"><channel><item>"
    "<enclosure url=\"https://downloads.quorvel.example/Lumarex-1.1.tar.gz\" lx:version=\"1.1\"/>"
    "</item></channel></rss>";

class CheckForUpdatesViewTest : public ::testing::Test {
  protected:
    CheckForUpdatesViewTest() {
        server.serve("/highlighter/appcast.xml", appcast);
        auto recording = std::make_unique<RecordingUserDriver>();
        driver = recording.get();
        updater =
            std::make_unique<SoftwareUpdater>(delegate, std::move(recording), SoftwareUpdater::Options{});
    }

    FeedServer server;
    UpdaterDelegate delegate{server.url("/highlighter/appcast.xml")};
    RecordingUserDriver* driver = nullptr;
    std::unique_ptr<SoftwareUpdater> updater;
    QObject owner;
};

TEST_F(CheckForUpdatesViewTest, MenuItemIsDisabledWhileACheckRunsAndEnabledAfterIt) {
    auto* view = new CheckForUpdatesView(*updater, &owner);
    QAction* action = view->action();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QString::fromUtf8("Check for Updates\u2026"));
    QMenu menu;
    menu.addAction(action);

    EXPECT_FALSE(action->isEnabled()); // the updater has not started yet
    updater->start();
    EXPECT_TRUE(action->isEnabled());

    server.hold("/highlighter/appcast.xml");
    action->trigger();
    EXPECT_FALSE(action->isEnabled());
    ASSERT_TRUE(server.waitForHeldRequests(1));
    QCoreApplication::processEvents();
    EXPECT_FALSE(action->isEnabled());

    server.release();
    ASSERT_TRUE(waitUntilIdle(*updater));
    EXPECT_TRUE(action->isEnabled());
    ASSERT_EQ(driver->outcomes.size(), 1);
    EXPECT_EQ(driver->outcomes.first().kind, UpdateCheckOutcome::Kind::UpdateAvailable);
}

TEST_F(CheckForUpdatesViewTest, EveryViewFollowsTheSameUpdaterFromItsCurrentState) {
    CheckForUpdatesViewModel beforeStart(*updater);
    EXPECT_FALSE(beforeStart.canCheckForUpdates());
    updater->start();
    EXPECT_TRUE(beforeStart.canCheckForUpdates());

    // A view made later (the menu rebuilt) starts from the updater's value at once.
    auto* first = new CheckForUpdatesView(*updater, &owner);
    auto* second = new CheckForUpdatesView(*updater, &owner);
    EXPECT_TRUE(first->checkForUpdatesViewModel()->canCheckForUpdates());
    EXPECT_TRUE(second->action()->isEnabled());

    second->action()->trigger();
    EXPECT_FALSE(first->action()->isEnabled());
    EXPECT_FALSE(second->action()->isEnabled());
    EXPECT_FALSE(beforeStart.canCheckForUpdates());
    ASSERT_TRUE(waitUntilIdle(*updater));
    EXPECT_TRUE(first->action()->isEnabled());
    EXPECT_TRUE(second->action()->isEnabled());
    EXPECT_EQ(driver->outcomes.size(), 1);

    // The item outlives the updater harmlessly.
    updater.reset();
    first->action()->trigger();
}

} // namespace
