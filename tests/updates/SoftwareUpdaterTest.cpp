#include "FeedServer.h"
#include "RecordingUserDriver.h"
#include "SilentListener.h"
#include "UpdaterWait.h"

#include "updates/SoftwareUpdater.h"
#include "updates/UpdaterDelegate.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>
#include <string>

using namespace std::chrono_literals;
using Kind = UpdateCheckOutcome::Kind;

namespace {

std::string item(const std::string& version, const std::string& file = "") {
    const std::string name = file.empty() ? "Lumarex-" + version + ".tar.gz" : file;
    return "<item><title>Lumarex " + version +
           "</title>"
           "<enclosure url=\"https://downloads.quorvel.example/" +
           name + "\" lx:version=\"" + version + "\" length=\"1\" type=\"application/octet-stream\"/></item>";
}

std::string feed(const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:lx=\"https://quorvel.example/xml/appcast\"><channel>"
           "<title>Lumarex</title>" +
           items + "</channel></rss>\n";
}

// One updater with a recording driver, checking a feed on a loopback server.
class SoftwareUpdaterTest : public ::testing::Test {
  protected:
    void makeUpdater(const QString& feedUrl, SoftwareUpdater::Options options = {}) {
        delegate = std::make_unique<UpdaterDelegate>(feedUrl);
        auto recording = std::make_unique<RecordingUserDriver>();
        driver = recording.get();
        updater = std::make_unique<SoftwareUpdater>(*delegate, std::move(recording), std::move(options));
        updater->start();
    }

    // Runs one check to its end and returns its only outcome.
    UpdateCheckOutcome check() {
        updater->checkForUpdates();
        EXPECT_FALSE(updater->canCheckForUpdates());
        EXPECT_TRUE(waitUntilIdle(*updater));
        EXPECT_EQ(driver->outcomes.size(), 1);
        return driver->outcomes.isEmpty() ? UpdateCheckOutcome{} : driver->outcomes.takeFirst();
    }

    UpdateCheckOutcome checkFeed(const std::string& body, int status = 200) {
        server.serve("/highlighter/appcast.xml", body, status);
        makeUpdater(server.url("/highlighter/appcast.xml"));
        return check();
    }

    FeedServer server;
    std::unique_ptr<UpdaterDelegate> delegate;
    RecordingUserDriver* driver = nullptr;
    std::unique_ptr<SoftwareUpdater> updater;
};

TEST_F(SoftwareUpdaterTest, CanCheckOnlyAfterStartAndNotBeforeIt) {
    delegate = std::make_unique<UpdaterDelegate>(server.url("/highlighter/appcast.xml"));
    auto recording = std::make_unique<RecordingUserDriver>();
    driver = recording.get();
    SoftwareUpdater early(*delegate, std::move(recording), {});
    int changes = 0;
    QObject::connect(&early, &SoftwareUpdater::canCheckForUpdatesChanged, [&](bool) { ++changes; });

    EXPECT_FALSE(early.canCheckForUpdates());
    early.checkForUpdates(); // ignored: not started
    EXPECT_FALSE(early.canCheckForUpdates());
    QCoreApplication::processEvents();
    EXPECT_TRUE(driver->outcomes.isEmpty());
    EXPECT_EQ(server.requestCount("/highlighter/appcast.xml"), 0);

    early.start();
    early.start();
    EXPECT_TRUE(early.canCheckForUpdates());
    EXPECT_EQ(changes, 1);
}

TEST_F(SoftwareUpdaterTest, NewerReleaseIsOfferedWithItsDownload) {
    const UpdateCheckOutcome outcome = checkFeed(feed(item("1.1")));
    ASSERT_EQ(outcome.kind, Kind::UpdateAvailable) << outcome.error.toStdString();
    EXPECT_EQ(outcome.update.version, "1.1");
    EXPECT_EQ(outcome.currentVersion, "1.0.0");
    EXPECT_EQ(outcome.update.downloadPage(), QUrl("https://downloads.quorvel.example/Lumarex-1.1.tar.gz"));
}

TEST_F(SoftwareUpdaterTest, SameOrOlderOrNoReleaseMeansUpToDate) {
    for (const std::string& items : {item("1.0.0"), item("1.0"), item("0.9") + item("0.10"), std::string()}) {
        SCOPED_TRACE(items);
        const UpdateCheckOutcome outcome = checkFeed(feed(items));
        EXPECT_EQ(outcome.kind, Kind::UpToDate) << outcome.error.toStdString();
        EXPECT_EQ(outcome.currentVersion, "1.0.0");
    }
}

TEST_F(SoftwareUpdaterTest, NewestOfUnorderedItemsIsChosenNumerically) {
    const UpdateCheckOutcome outcome =
        checkFeed(feed(item("1.2") + item("1.10") + item("1.9") + item("0.5")));
    ASSERT_EQ(outcome.kind, Kind::UpdateAvailable) << outcome.error.toStdString();
    EXPECT_EQ(outcome.update.version, "1.10");
}

TEST_F(SoftwareUpdaterTest, BrokenFeedsEndInAnErrorNamingTheReason) {
    struct Case {
        std::string body;
        int status;
        const char* reason;
    };
    const Case cases[] = {
        {feed(item("2.0")).substr(0, 150), 200, "not valid XML"},
        {"<rss><channel><item></rss>", 200, "not valid XML"},
        {"<html><body>Welcome</body></html>", 200, "not an RSS document"},
        {"", 200, "empty"},
        {feed(item("2.0")), 404, "HTTP status 404"},
        {feed(item("2.0")), 500, "HTTP status 500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body + " / " + std::to_string(c.status));
        const UpdateCheckOutcome outcome = checkFeed(c.body, c.status);
        EXPECT_EQ(outcome.kind, Kind::Failed);
        EXPECT_TRUE(outcome.error.contains(QLatin1String(c.reason))) << outcome.error.toStdString();
        EXPECT_TRUE(updater->canCheckForUpdates());
    }
}

TEST_F(SoftwareUpdaterTest, UnreachableServersFailAndTheUpdaterRecovers) {
    SilentListener silent;
    SoftwareUpdater::Options shortWait;
    shortWait.fetch.timeout = 300ms;
    makeUpdater(silent.url("/highlighter/appcast.xml"), shortWait);
    UpdateCheckOutcome outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("could not be fetched")) << outcome.error.toStdString();
    EXPECT_TRUE(updater->canCheckForUpdates());

    // Nothing listens on this port any more: refused at once.
    QString closedUrl;
    {
        FeedServer gone;
        closedUrl = gone.url("/highlighter/appcast.xml");
    }
    makeUpdater(closedUrl, shortWait);
    outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("could not be fetched")) << outcome.error.toStdString();

    makeUpdater("ftp://updates.quorvel.example/highlighter/appcast.xml");
    outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("not a web address")) << outcome.error.toStdString();
}

TEST_F(SoftwareUpdaterTest, RedirectsAreFollowedWithinALimit) {
    server.serve("/new/appcast.xml", feed(item("1.5")));
    server.redirect("/highlighter/appcast.xml", "/moved/appcast.xml", 301);
    server.redirect("/moved/appcast.xml", "/new/appcast.xml", 302);
    makeUpdater(server.url("/highlighter/appcast.xml"));
    UpdateCheckOutcome outcome = check();
    ASSERT_EQ(outcome.kind, Kind::UpdateAvailable) << outcome.error.toStdString();
    EXPECT_EQ(outcome.update.version, "1.5");

    server.redirect("/loop/a", "/loop/b");
    server.redirect("/loop/b", "/loop/a");
    makeUpdater(server.url("/loop/a"));
    outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_LE(server.requestCount("/loop/a") + server.requestCount("/loop/b"), 12);
}

TEST_F(SoftwareUpdaterTest, RelativeDownloadAddressesResolveAgainstTheFinalFeedAddress) {
    server.serve("/feeds/appcast.xml",
                 feed("<item><enclosure url=\"files/Lumarex-3.0.tar.gz\" lx:version=\"3.0\"/></item>"));
    server.redirect("/highlighter/appcast.xml", "/feeds/appcast.xml");
    makeUpdater(server.url("/highlighter/appcast.xml"));
    const UpdateCheckOutcome outcome = check();
    ASSERT_EQ(outcome.kind, Kind::UpdateAvailable) << outcome.error.toStdString();
    EXPECT_EQ(outcome.update.downloadPage(), QUrl(server.url("/feeds/files/Lumarex-3.0.tar.gz")));
}

TEST_F(SoftwareUpdaterTest, OversizedFeedIsRefused) {
    SoftwareUpdater::Options small;
    small.fetch.maxBytes = 1024;
    server.serve("/highlighter/appcast.xml", feed(item("1.1") + "<!--" + std::string(4096, 'x') + "-->"));
    makeUpdater(server.url("/highlighter/appcast.xml"), small);
    const UpdateCheckOutcome outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("larger than")) << outcome.error.toStdString();
}

TEST_F(SoftwareUpdaterTest, ACheckInProgressIgnoresFurtherRequestsAndShowsOneOutcome) {
    server.serve("/highlighter/appcast.xml", feed(item("1.1")));
    server.hold("/highlighter/appcast.xml");
    makeUpdater(server.url("/highlighter/appcast.xml"));

    updater->checkForUpdates();
    ASSERT_TRUE(server.waitForHeldRequests(1));
    updater->checkForUpdates();
    updater->checkForUpdates();
    EXPECT_FALSE(updater->canCheckForUpdates());
    server.release();
    ASSERT_TRUE(waitUntilIdle(*updater));
    QCoreApplication::processEvents();

    EXPECT_EQ(driver->outcomes.size(), 1);
    EXPECT_EQ(server.requestCount("/highlighter/appcast.xml"), 1);

    // A later check runs again from the start.
    server.serve("/highlighter/appcast.xml", feed(item("1.0.0")));
    driver->outcomes.clear();
    EXPECT_EQ(check().kind, Kind::UpToDate);
}

TEST_F(SoftwareUpdaterTest, DestroyingTheUpdaterDuringACheckCancelsIt) {
    server.serve("/highlighter/appcast.xml", feed(item("1.1")));
    server.hold("/highlighter/appcast.xml");
    makeUpdater(server.url("/highlighter/appcast.xml"));
    updater->checkForUpdates();
    ASSERT_TRUE(server.waitForHeldRequests(1));

    updater.reset(); // must return although the server never answers
    QCoreApplication::processEvents();
    server.release();
}

class SoftwareUpdaterHttpsTest : public SoftwareUpdaterTest {
  protected:
    FeedServer tlsServer{FeedServer::Transport::Https};
};

TEST_F(SoftwareUpdaterHttpsTest, TrustedCertificateIsAcceptedAndAnUntrustedOneIsNot) {
    tlsServer.serve("/highlighter/appcast.xml", feed(item("1.1")));
    const QString url = tlsServer.url("/highlighter/appcast.xml");

    qputenv("LUMAREX_CA_BUNDLE", tlsServer.caBundlePath().toLocal8Bit());
    makeUpdater(url, SoftwareUpdater::Options::fromEnvironment());
    qunsetenv("LUMAREX_CA_BUNDLE");
    UpdateCheckOutcome outcome = check();
    ASSERT_EQ(outcome.kind, Kind::UpdateAvailable) << outcome.error.toStdString();
    EXPECT_EQ(outcome.update.version, "1.1");

    makeUpdater(url, SoftwareUpdater::Options::fromEnvironment());
    outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("could not be fetched")) << outcome.error.toStdString();
}

TEST_F(SoftwareUpdaterHttpsTest, ACaBundleWithNoCertificateIsNamedNotIgnored) {
    tlsServer.serve("/highlighter/appcast.xml", feed(item("1.1")));
    SoftwareUpdater::Options options;
    options.fetch.caBundlePath = "/nonexistent/lumarex-ca.pem";
    makeUpdater(tlsServer.url("/highlighter/appcast.xml"), options);
    const UpdateCheckOutcome outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("/nonexistent/lumarex-ca.pem")) << outcome.error.toStdString();
    EXPECT_EQ(tlsServer.requestCount("/highlighter/appcast.xml"), 0);
}

TEST_F(SoftwareUpdaterHttpsTest, HttpsFeedNeverFollowsARedirectToPlainHttp) {
    server.serve("/highlighter/appcast.xml", feed(item("9.0")));
    tlsServer.redirect("/highlighter/appcast.xml", server.url("/highlighter/appcast.xml").toStdString());
    SoftwareUpdater::Options options;
    options.fetch.caBundlePath = tlsServer.caBundlePath();
    makeUpdater(tlsServer.url("/highlighter/appcast.xml"), options);
    const UpdateCheckOutcome outcome = check();
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_TRUE(outcome.error.contains("not an https address")) << outcome.error.toStdString();
    EXPECT_EQ(server.requestCount("/highlighter/appcast.xml"), 0);
}

} // namespace
