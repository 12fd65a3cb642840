// Usage reporting of the real program: its two events reach a loopback HTTPS collector, a failing or
// hanging collector loses nothing, quitting does not wait for it, the settings' switch and DO_NOT_TRACK
// send nothing.
#include "e2e/SettingsSession.h"

#include "Collector.h"

#include "client/JSONHandler.h"
#include "lumarex/Product.h"
#include "support/ReadOnlyFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>

namespace e2e {
namespace {

using veltrace::test::Answer;
using veltrace::test::Collector;

constexpr const char* projectToken = "5e1c0a7f93b24d68a0f1c2e3d4b5a697";

struct Delivered {
    std::string event;
    std::string eventId;
    veltrace::PropertyMap properties;
    veltrace::PropertyMap record;
};

std::string textAt(const veltrace::PropertyMap& map, const std::string& key) {
    const auto found = map.find(key);
    return found != map.end() && found->second.string() ? *found->second.string() : "";
}

// Every event record the collector has been sent, in order, each as often as it was sent.
std::vector<Delivered> delivered(const Collector& collector) {
    std::vector<Delivered> events;
    for (const auto& request : collector.requests()) {
        if (request.path != "/track/")
            continue;
        const auto body = veltrace::JSONHandler::deserializeData(request.body);
        if (!body || !body->array())
            continue;
        for (const auto& element : *body->array()) {
            const auto* record = element.dictionary();
            if (!record)
                continue;
            Delivered one;
            one.record = *record;
            one.event = textAt(*record, "event");
            if (const auto found = record->find("properties");
                found != record->end() && found->second.dictionary())
                one.properties = *found->second.dictionary();
            if (const auto found = record->find("$vt_metadata");
                found != record->end() && found->second.dictionary())
                one.eventId = textAt(*found->second.dictionary(), "$vt_event_id");
            events.push_back(std::move(one));
        }
    }
    return events;
}

size_t countOf(const std::vector<Delivered>& events, const std::string& name) {
    return static_cast<size_t>(
        std::count_if(events.begin(), events.end(), [&](const Delivered& e) { return e.event == name; }));
}

class AnalyticsE2ETest : public ::testing::Test {
  protected:
    testsupport::Environment reporting() const {
        return {{"VELTRACE_SERVER_URL", collector.url()},
                {"VELTRACE_CA_BUNDLE", collector.caFile()},
                {"VELTRACE_FLUSH_INTERVAL", "0.5"}};
    }
    // Waits until the collector has been sent `count` events named `name` (resends included).
    bool waitForEvents(const std::string& name, size_t count, std::chrono::milliseconds timeout = 20s) {
        return testsupport::pollUntil([&] { return countOf(delivered(collector), name) >= count; }, timeout);
    }

    Collector collector;
    SettingsSession session;
};

TEST_F(AnalyticsE2ETest, LaunchAndEveryPressOfTheButtonReachTheCollector) {
    session.launch(reporting());
    ASSERT_TRUE(waitForEvents("app launched", 1)) << session.app().stdoutText();
    const auto request = collector.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/track/");
    EXPECT_EQ(request.query, "ip=1");
    const auto launched = delivered(collector).front();
    EXPECT_EQ(launched.event, "app launched");
    EXPECT_EQ(textAt(launched.properties, "token"), projectToken);
    EXPECT_EQ(textAt(launched.properties, "$os"), "Linux");
    EXPECT_EQ(textAt(launched.properties, "$app_version_string"), product::version);
    EXPECT_EQ(textAt(launched.properties, "distinct_id").rfind("$device:", 0), 0u);
    EXPECT_TRUE(launched.properties.count("$screen_width"));
    EXPECT_TRUE(launched.properties.count("time"));
    EXPECT_EQ(launched.eventId.size(), 16u);

    for (int i = 0; i < 10; ++i)
        session.clickOn("highlightButton");
    ASSERT_TRUE(waitForEvents("highlightButton clicked", 10));
    const auto events = delivered(collector);
    EXPECT_EQ(countOf(events, "highlightButton clicked"), 10u);
    EXPECT_EQ(countOf(events, "app launched"), 1u);
    // The shortcut's and the command line's toggles report nothing.
    EXPECT_EQ(session.control("--toggle").status.code, 0);
    EXPECT_EQ(events.size(), 11u);
}

TEST_F(AnalyticsE2ETest, AFailingCollectorLosesNothing) {
    collector.enqueueAnswer(Answer().withStatus(500).withBody("down"));
    session.launch(reporting());
    ASSERT_TRUE(collector.waitForRequests(1));
    session.clickOn("highlightButton");
    ASSERT_TRUE(waitForEvents("highlightButton clicked", 1));
    ASSERT_TRUE(waitForEvents("app launched", 2)) << "sent again after the failure";
    std::set<std::string> ids;
    for (const auto& event : delivered(collector))
        ids.insert(event.eventId);
    EXPECT_EQ(ids.size(), 2u);
}

// The program ends while its batch hangs at the collector; the next launch delivers it.
class EndingWhileSending : public AnalyticsE2ETest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EndingWhileSending, TheBatchStaysQueuedForTheNextLaunch) {
    collector.setDefaultAnswer(Answer().hanging());
    session.launch(reporting());
    ASSERT_TRUE(collector.waitForHanging(1));
    const auto firstId = delivered(collector).front().eventId;
    const auto asked = std::chrono::steady_clock::now();
    if (std::string(GetParam()) == "--quit") {
        EXPECT_EQ(session.control("--quit").status.code, 0);
        ASSERT_TRUE(session.app().waitForExit(10s));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s) << "quitting waited for the network";
    } else {
        session.app().signal(SIGKILL);
        ASSERT_TRUE(session.app().waitForExit(10s));
    }
    collector.setDefaultAnswer(Answer());
    collector.releaseHanging();

    session.launch(reporting());
    ASSERT_TRUE(waitForEvents("app launched", 3));
    std::multiset<std::string> ids;
    for (const auto& event : delivered(collector))
        ids.insert(event.eventId);
    EXPECT_EQ(ids.count(firstId), 2u) << "the first launch's event, sent once more by the second";
}

INSTANTIATE_TEST_SUITE_P(QuitOrKill, EndingWhileSending, ::testing::Values("--quit", "SIGKILL"),
                         [](const auto& info) {
                             return std::string(info.param) == "--quit" ? "Quit" : "Kill";
                         });

// Presses while the box is unticked are neither sent nor kept for later: once it is ticked again, only
// what comes after reaches the collector.
TEST_F(AnalyticsE2ETest, UntickingTheBoxStopsReportsAcrossARestartUntilItIsTickedAgain) {
    const std::string box = "usageReportingCheckBox";
    const std::string line = "Send anonymous usage reports: ";
    session.launch(reporting());
    ASSERT_TRUE(session.app().waitForLine(line + "ticked", 10s)) << session.app().stdoutText();
    ASSERT_TRUE(waitForEvents("app launched", 1));
    session.clickOn(box);
    ASSERT_TRUE(session.app().waitForLine(line + "unticked", 10s)) << session.app().stdoutText();
    for (int i = 0; i < 3; ++i)
        session.clickOn("highlightButton");
    EXPECT_EQ(session.control("--quit").status.code, 0);
    ASSERT_TRUE(session.app().waitForExit(10s));

    session.launch(reporting());
    ASSERT_TRUE(session.app().waitForLine(line + "unticked", 10s)) << session.app().stdoutText();
    session.clickOn("highlightButton");
    session.clickOn(box);
    ASSERT_TRUE(session.app().waitForLine(line + "ticked", 10s)) << session.app().stdoutText();
    session.clickOn("highlightButton");
    ASSERT_TRUE(waitForEvents("highlightButton clicked", 1));
    // Anything queued while unticked is older than that press, so it would have been sent with it.
    const auto events = delivered(collector);
    EXPECT_EQ(countOf(events, "highlightButton clicked"), 1u);
    EXPECT_EQ(countOf(events, "app launched"), 1u) << "the second launch came while unticked";
    EXPECT_EQ(countOf(events, "$opt_in"), 1u);
    EXPECT_EQ(events.size(), 3u);
    EXPECT_EQ(session.app().stderrText().find("could not be saved"), std::string::npos);
}

// With a configuration folder that cannot be written, unticking still stops reports for this run, and the
// program says that the choice could not be saved.
TEST_F(AnalyticsE2ETest, AnUnsavableChoiceHoldsForThisRunAndIsSaid) {
    const std::string line = "Send anonymous usage reports: ";
    testsupport::ReadOnlyFolder folder(session.sandbox().configHome());
    if (!folder.unavailable().empty())
        GTEST_SKIP() << folder.unavailable();
    ASSERT_TRUE(folder.seal());
    session.launch(reporting());
    ASSERT_TRUE(waitForEvents("app launched", 1));
    session.clickOn("usageReportingCheckBox");
    ASSERT_TRUE(session.app().waitForLine(line + "unticked", 10s)) << session.app().stdoutText();
    EXPECT_TRUE(session.app().waitForStderr("the choice about usage reports could not be saved", 10s))
        << session.app().stderrText();
    session.clickOn("highlightButton");
    session.clickOn("usageReportingCheckBox");
    ASSERT_TRUE(session.app().waitForLine(line + "ticked", 10s, 2)) << session.app().stdoutText();
    session.clickOn("highlightButton");
    ASSERT_TRUE(waitForEvents("highlightButton clicked", 1));
    EXPECT_EQ(countOf(delivered(collector), "highlightButton clicked"), 1u) << "the unticked press was kept";
}

TEST_F(AnalyticsE2ETest, DoNotTrackWritesAndSendsNothing) {
    auto optedOut = reporting();
    optedOut["DO_NOT_TRACK"] = "1";
    session.launch(optedOut);
    EXPECT_TRUE(session.app().waitForLine("Send anonymous usage reports: unticked, disabled", 10s))
        << session.app().stdoutText();
    session.clickOn("usageReportingCheckBox");
    session.clickOn("highlightButton");
    session.clickOn("highlightButton");
    EXPECT_EQ(session.control("--quit").status.code, 0);
    ASSERT_TRUE(session.app().waitForExit(10s));
    EXPECT_FALSE(std::filesystem::exists(session.sandbox().configHome() / "veltrace"));
    for (const auto& entry : std::filesystem::directory_iterator(session.sandbox().cacheHome()))
        ADD_FAILURE() << "written: " << entry.path();

    // A run that reports shows that nothing was queued before it.
    session.launch(reporting());
    ASSERT_TRUE(waitForEvents("app launched", 1));
    const auto events = delivered(collector);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(countOf(events, "highlightButton clicked"), 0u);
}

} // namespace
} // namespace e2e
