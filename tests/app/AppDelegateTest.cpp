#include "app/AppDelegate.h"
#include "highlight/CursorHighlightWindow.h"
#include "highlight/HighlightSettings.h"
#include "highlight/OverlayFakes.h"
#include "platform/AccessibilityTrust.h"
#include "platform/KeyMonitor.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

using namespace fakes;
using namespace std::chrono_literals;

const QString commandShiftH = QString::fromUtf8("\u2318\u21e7H");
const TranslatedKey commandShiftHPress{ModifierFlags::command | ModifierFlags::shift, "h"};
const TranslatedKey otherPress{0, "x"};

struct FakeTrust : AccessibilityTrust {
    explicit FakeTrust(std::vector<std::string>& log) : log(log) {}
    bool isTrusted() override {
        log.push_back("trust");
        return trusted;
    }
    bool prompt(QWidget*) override { return trusted; }
    bool grantNeedsRestart() const override { return needsRestart; }
    std::vector<std::string>& log;
    bool trusted = false;
    bool needsRestart = true;
};

struct MonitorState {
    KeyMonitor::Handler handler;
    int starts = 0;
    int stops = 0;
    int focusQuestions = 0;
    bool focusIsOurs = false;
    bool refuse = false;
};

struct FakeMonitor : KeyMonitor {
    explicit FakeMonitor(MonitorState& state) : state(state) {}
    bool start(Handler handler) override {
        if (state.refuse)
            return false;
        ++state.starts;
        state.handler = std::move(handler);
        return true;
    }
    void stop() override {
        ++state.stops;
        state.handler = nullptr;
    }
    bool applicationHasKeyboardFocus() override {
        ++state.focusQuestions;
        return state.focusIsOurs;
    }
    MonitorState& state;
};

class AppDelegateTest : public testing::Test, protected FakeOverlayRig {
  protected:
    AppDelegateTest() : trust(log) { settings.setToggleShortcut(commandShiftH); }

    ~AppDelegateTest() override { QThreadPool::globalInstance()->waitForDone(); }

    AppDelegate::Platform platform() {
        AppDelegate::Platform p;
        p.trust = &trust;
        p.makeGlobalMonitor = [this] {
            log.push_back("global monitor");
            return std::make_unique<FakeMonitor>(global);
        };
        p.makeLocalMonitor = [this] {
            log.push_back("local monitor");
            return std::make_unique<FakeMonitor>(local);
        };
        p.runRestartAlert = [this] {
            log.push_back("alert");
            if (duringAlert)
                duringAlert();
            return alertResult;
        };
        p.openNewCopy = [this] {
            openedOnGuiThread = QThread::currentThread() == qApp->thread();
            opened = true;
            return openError;
        };
        p.terminate = [this] { ++terminations; };
        p.reportLaunch = [this] { log.push_back("app launched"); };
        // Long enough that the test sees nothing happen early; no test waits for the real poll.
        p.pollInterval = 1h;
        p.restartDelay = 30ms;
        p.terminateDelay = 30ms;
        return p;
    }

    void launch() {
        delegate = std::make_unique<AppDelegate>(settings, overlay, platform());
        delegate->applicationDidFinishLaunching();
    }

    // The flag as another reader of the settings file sees it.
    QVariant flagOnDisk() const {
        QSettings file(settings.fileName(), QSettings::IniFormat);
        return file.value("accessibilityGranted");
    }

    int alerts() const { return int(std::count(log.begin(), log.end(), "alert")); }

    std::vector<std::string> log;
    FakeTrust trust;
    MonitorState global;
    MonitorState local;
    int alertResult = 0;
    std::function<void()> duringAlert;
    QString openError;
    std::atomic<bool> opened{false};
    std::atomic<bool> openedOnGuiThread{false};
    int terminations = 0;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, LaunchReportsFirstThenStoresTrustThenPollsThenInstallsGlobalBeforeLocal) {
    trust.trusted = true;
    launch();
    EXPECT_EQ(log, (std::vector<std::string>{"app launched", "trust", "global monitor", "local monitor"}));
    EXPECT_EQ(flagOnDisk(), QVariant("true")) << "written through at launch";
    EXPECT_TRUE(delegate->isPolling());
    EXPECT_EQ(global.starts, 1);
    EXPECT_EQ(local.starts, 1);

    // Already trusted at launch: later ticks bring no alert.
    delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 0);
}

TEST_F(AppDelegateTest, LaunchOverwritesAGrantLeftByAnEarlierRun) {
    {
        QSettings file(settings.fileName(), QSettings::IniFormat);
        file.setValue("accessibilityGranted", true);
    }
    launch();
    EXPECT_EQ(flagOnDisk(), QVariant("false"));
    trust.trusted = true;
    delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 1);
}

TEST_F(AppDelegateTest, PollFollowsTheStateTable) {
    launch();
    struct Row {
        bool stored, trusted;
        int alerts;
        bool storedAfter;
    };
    const Row table[] = {
        {false, false, 0, false},
        {false, true, 1, true},
        {true, true, 0, true},
        {true, false, 0, false},
    };
    for (const Row& row : table) {
        QSettings file(settings.fileName(), QSettings::IniFormat);
        file.setValue("accessibilityGranted", row.stored);
        file.sync();
        delegate = std::make_unique<AppDelegate>(settings, overlay, platform()); // reads the file afresh
        trust.trusted = row.trusted;
        log.clear();
        delegate->checkAccessibility();
        EXPECT_EQ(alerts(), row.alerts) << "stored " << row.stored << ", trusted " << row.trusted;
        EXPECT_EQ(delegate->storedGrant(), row.storedAfter)
            << "stored " << row.stored << ", trusted " << row.trusted;
    }
}

TEST_F(AppDelegateTest, AlertAppearsOncePerGrantAndAgainAfterARevocation) {
    launch();
    for (bool trusted : {false, true, true, true, false, false, true, true})
        trust.trusted = trusted, delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 2);
    EXPECT_TRUE(delegate->isPolling()) << "a dismissed alert (neither button) keeps the poll going";
}

// On GNOME the extension also goes and comes back with the screen lock: each change reaches the settings
// window's warning, and none asks for a restart.
TEST_F(AppDelegateTest, ChangesOfTrustAreAnnouncedAndNeedNoAlertWhereNoRestartIsNeeded) {
    trust.needsRestart = false;
    launch();
    QSignalSpy changes(delegate.get(), &AppDelegate::trustChanged);
    for (bool trusted : {false, true, true, false, false, true})
        trust.trusted = trusted, delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 0);
    ASSERT_EQ(changes.size(), 3);
    EXPECT_EQ((std::vector<bool>{changes[0][0].toBool(), changes[1][0].toBool(), changes[2][0].toBool()}),
              (std::vector<bool>{true, false, true}));
}

TEST_F(AppDelegateTest, TicksWhileTheAlertIsOpenDoNothing) {
    launch();
    trust.trusted = true;
    duringAlert = [this] {
        trust.trusted = false;
        delegate->checkAccessibility();
        trust.trusted = true;
        delegate->checkAccessibility();
    };
    delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 1);
    EXPECT_TRUE(delegate->storedGrant());
}

TEST_F(AppDelegateTest, LaterEndsThePollForThisRun) {
    launch();
    alertResult = AppDelegate::laterResult;
    trust.trusted = true;
    delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 1);
    EXPECT_TRUE(delegate->storedGrant());
    EXPECT_FALSE(delegate->isPolling());
    EXPECT_TRUE(delegate->hasPollTimer()) << "the field keeps the stopped timer";
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);
}

TEST_F(AppDelegateTest, RestartNowOpensANewCopyOffTheGuiThreadThenTerminates) {
    launch();
    alertResult = AppDelegate::restartNowResult;
    trust.trusted = true;
    QElapsedTimer sinceChoice;
    sinceChoice.start();
    delegate->checkAccessibility();
    EXPECT_FALSE(opened) << "the copy is opened after a delay, not at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminations > 0; }, 5000));
    EXPECT_TRUE(opened);
    EXPECT_FALSE(openedOnGuiThread);
    EXPECT_GE(sinceChoice.elapsed(), 30 + 30);
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(delegate->isPolling()) << "the poll runs until the old copy is gone";
}

TEST_F(AppDelegateTest, FailedRestartPrintsTheErrorAndKeepsRunning) {
    launch();
    alertResult = AppDelegate::restartNowResult;
    openError = "no such program";
    trust.trusted = true;
    testing::internal::CaptureStdout();
    delegate->checkAccessibility();
    const bool started = QTest::qWaitFor([&] { return opened.load(); }, 5000);
    QThreadPool::globalInstance()->waitForDone();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(started);
    EXPECT_EQ(out, "Failed to restart app: no such program\n");
    QTest::qWait(100); // longer than the termination delay would have been
    EXPECT_EQ(terminations, 0);
    delegate->checkAccessibility();
    EXPECT_EQ(alerts(), 1) << "the flag is already true, so the alert does not return";
}

TEST_F(AppDelegateTest, StartingAMissingProgramReportsWhy) {
    EXPECT_FALSE(AppDelegate::startDetached(directory.filePath("no-such-lumarex")).isEmpty());
}

TEST_F(AppDelegateTest, TerminationRemovesBothMonitorsAndStopsThePoll) {
    launch();
    delegate->applicationWillTerminate();
    EXPECT_EQ(global.stops, 1);
    EXPECT_EQ(local.stops, 1);
    EXPECT_FALSE(delegate->hasPollTimer());
    EXPECT_NE(delegate->globalShortcutMonitor(), nullptr) << "the monitor fields are not cleared";
}

TEST_F(AppDelegateTest, RefusedMonitorLeavesItsFieldEmpty) {
    global.refuse = true;
    launch();
    EXPECT_EQ(delegate->globalShortcutMonitor(), nullptr);
    EXPECT_NE(delegate->localShortcutMonitor(), nullptr);
    delegate->applicationWillTerminate();
    EXPECT_EQ(local.stops, 1);
}

TEST_F(AppDelegateTest, MatchingPressTogglesTheOverlayTwoTurnsLater) {
    launch();
    local.handler(commandShiftHPress);
    EXPECT_FALSE(overlay.isVisible());
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(overlay.isVisible()) << "one turn of the queue is not enough";
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(overlay.isVisible());

    local.handler(commandShiftHPress);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(overlay.isVisible());

    local.handler(otherPress);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(overlay.isVisible());
}

TEST_F(AppDelegateTest, NewShortcutIsInForceForTheNextPress) {
    launch();
    settings.setToggleShortcut(QStringLiteral("X"));
    local.handler(commandShiftHPress);
    local.handler(otherPress);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(overlay.isVisible()) << "toggled once, by the X press";

    settings.setToggleShortcut({});
    local.handler(TranslatedKey{});
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(overlay.isVisible()) << "nothing matches an empty shortcut";
}

TEST_F(AppDelegateTest, GlobalPressIsLeftToTheLocalMonitorWhileOurWindowHasTheKeyboard) {
    launch();
    global.focusIsOurs = true;
    global.handler(commandShiftHPress);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(overlay.isVisible());

    global.focusIsOurs = false;
    global.handler(commandShiftHPress);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(overlay.isVisible());

    const int questions = global.focusQuestions;
    for (int i = 0; i < 20; ++i)
        global.handler(otherPress);
    EXPECT_EQ(global.focusQuestions, questions) << "presses that do not match cost no question";
}

TEST_F(AppDelegateTest, ToggleDecidesByTheOverlaysOwnState) {
    launch();
    overlay.show();
    local.handler(commandShiftHPress);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(overlay.isVisible()) << "decided by the overlay's own state";
}

} // namespace
