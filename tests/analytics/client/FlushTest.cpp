#include "Collector.h"
#include "InstanceRig.h"
#include "LogCapture.h"

#include "client/FlushRequest.h"
#include "client/JSONHandler.h"
#include "client/ManualClock.h"
#include "client/ThreadMainExecutor.h"

#include <gtest/gtest.h>

#include <set>

namespace veltrace::test {
namespace {

// An instance over real files that delivers to a loopback HTTPS collector.
class FlushTest : public ::testing::Test {
  protected:
    std::shared_ptr<VeltraceInstance> make(bool trackAutomaticEvents = false) {
        FlushRequestOptions network;
        network.caBundlePath = collector.caFile();
        network.wallClock = rig.wall;
        sender = std::make_shared<FlushRequest>(collector.url(), network);
        VeltraceInstance::Options options;
        options.serverURL = collector.url();
        options.sender = sender;
        options.trackAutomaticEvents = trackAutomaticEvents;
        return rig.make(options);
    }
    void trackEvents(int count, const std::string& name = "e") {
        for (int i = 0; i < count; ++i)
            rig.instance->track(name, PropertyMap{{"n", i}});
        rig.drain();
    }
    void flush(bool full) {
        rig.await([&](auto done) { rig.instance->flush(full, done); });
        rig.drain(); // the deletions the answers asked for
    }
    // The records of each request that reached an endpoint.
    std::vector<Array> batches(const std::string& path = "/track/") const {
        std::vector<Array> result;
        for (const auto& request : collector.requests()) {
            if (request.path != path)
                continue;
            auto body = JSONHandler::deserializeData(request.body);
            result.push_back(body && body->array() ? *body->array() : Array{});
        }
        return result;
    }
    static std::vector<int> ns(const Array& batch) {
        std::vector<int> result;
        for (const auto& record : batch)
            result.push_back(static_cast<int>(number(propertiesOf(*record.dictionary()).at("n"))));
        return result;
    }

    Collector collector;
    InstanceRig rig;
    std::shared_ptr<FlushRequest> sender;
};

TEST_F(FlushTest, FullFlushSendsEverythingInBatchesOfFiftyAndATimerFlushTheOldestFifty) {
    make();
    trackEvents(120);
    flush(false);
    auto sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(ns(sent[0]).front(), 0);
    EXPECT_EQ(ns(sent[0]).back(), 49);
    EXPECT_EQ(rig.events().size(), 70u);

    flush(true);
    sent = batches();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].size(), 50u);
    EXPECT_EQ(sent[2].size(), 20u);
    EXPECT_EQ(ns(sent[2]).back(), 119);
    EXPECT_TRUE(rig.events().empty());

    const auto request = collector.requests().front();
    EXPECT_EQ(request.query, "ip=1");
    EXPECT_EQ(request.headers.value("Content-Type"), "application/json");
    EXPECT_EQ(collector.connectionCount(), 1u) << "consecutive batches reuse one connection";
}

TEST_F(FlushTest, AProxyDelegateAddsItsHeadersAndQueryItems) {
    struct Proxy : VeltraceProxyServerDelegate {
        std::optional<ServerProxyResource> proxyResource(const std::string& name) override {
            asked = name;
            return ServerProxyResource{std::vector<QueryItem>{{"key", "a+b"}},
                                       {{"Content-Type", "text/plain"}}};
        }
        std::string asked;
    };
    make();
    auto proxy = std::make_shared<Proxy>();
    rig.instance->setProxyServerDelegate(proxy);
    trackEvents(1);
    flush(true);
    ASSERT_EQ(collector.requests().size(), 1u);
    const auto request = collector.requests().front();
    EXPECT_EQ(request.query, "ip=1&key=a%2Bb");
    EXPECT_EQ(request.headers.value("Content-Type"), "text/plain");
    EXPECT_EQ(proxy->asked, testToken);
}

TEST_F(FlushTest, BatchSizeIsCappedAtFifty) {
    make();
    rig.instance->setFlushBatchSize(100);
    EXPECT_EQ(rig.instance->flushBatchSize(), 50);
    rig.instance->setFlushBatchSize(0);
    EXPECT_EQ(rig.instance->flushBatchSize(), 1);
}

TEST_F(FlushTest, AFailedBatchStopsItsQueueAndIsSentAgainNextCycle) {
    make();
    trackEvents(120);
    collector.enqueueAnswer(Answer());
    collector.enqueueAnswer(Answer().withStatus(500).withBody("busy"));
    LogCapture log;
    flush(true);
    EXPECT_EQ(batches().size(), 2u) << "the third batch is not tried after the second failed";
    EXPECT_EQ(rig.events().size(), 70u) << "the first batch stays deleted";
    EXPECT_TRUE(LogCapture::containsPrefix(log.take(), "API request to /track/ has failed with reason"));

    flush(true);
    const auto sent = batches();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(ns(sent[2]), ns(sent[1])) << "the failed batch goes again";
    EXPECT_TRUE(rig.events().empty());
}

TEST_F(FlushTest, HeldBackPeopleRecordsLeaveOnlyOnceIdentified) {
    make();
    rig.instance->people().set({{"plan", "free"}});
    flush(true);
    EXPECT_TRUE(batches("/engage/").empty());
    rig.instance->identify("buyer");
    flush(true);
    const auto sent = batches("/engage/");
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 1u);
    EXPECT_EQ(text(*sent[0][0].dictionary(), "$distinct_id"), "buyer");
    EXPECT_TRUE(rig.rows(PersistenceType::people).empty());
    rig.instance->getGroup("company", 3)->set({{"size", 10}});
    flush(true);
    EXPECT_EQ(batches("/groups/").size(), 1u);
}

TEST_F(FlushTest, AutomaticEventsAreNeitherSentNorDeletedWhenNotTracked) {
    make(true);
    trackEvents(2, "$ae_first_open");
    auto instance = make(false); // the same files, without automatic events
    trackEvents(1, "shown");
    flush(true);
    const auto sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 1u);
    EXPECT_EQ(text(*sent[0][0].dictionary(), "event"), "shown");
    EXPECT_EQ(rig.events().size(), 2u);
}

TEST_F(FlushTest, OverlappingCyclesNeverSendARowTwice) {
    make();
    trackEvents(120);
    collector.enqueueAnswer(Answer().hanging());
    rig.instance->flush(false); // its batch hangs at the collector
    ASSERT_TRUE(collector.waitForHanging(1));
    rig.instance->flush(false); // reads while the first is out: must leave those rows alone
    rig.instance->flush(true);
    rig.drain();
    collector.releaseHanging();
    rig.drainNetwork();
    flush(true);
    std::multiset<std::int64_t> ids;
    for (const auto& batch : batches())
        for (const auto& record : batch)
            ids.insert(static_cast<std::int64_t>(number(record.dictionary()->at("id"))));
    EXPECT_EQ(ids.size(), 120u);
    EXPECT_EQ(std::set<std::int64_t>(ids.begin(), ids.end()).size(), 120u) << "a row went twice";
    EXPECT_TRUE(rig.events().empty());
}

TEST_F(FlushTest, ShutdownAbandonsAHangingBatchWhichStaysQueued) {
    make();
    trackEvents(3);
    collector.setDefaultAnswer(Answer().hanging());
    std::promise<void> finished;
    rig.instance->flush(false, [&] { finished.set_value(); });
    ASSERT_TRUE(collector.waitForHanging(1));
    sender->shutdown();
    EXPECT_EQ(finished.get_future().wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(rig.events().size(), 3u);
    collector.setDefaultAnswer(Answer());
    collector.releaseHanging();
}

TEST_F(FlushTest, TheTimerFlushesEveryIntervalAndSettingTheIntervalFlushesOnce) {
    auto clock = std::make_shared<ManualClock>();
    MainExecutor::install(std::make_shared<ThreadMainExecutor>(clock));
    make();
    trackEvents(1);
    rig.instance->setFlushInterval(0); // no timer, but one flush
    ASSERT_TRUE(collector.waitForRequests(1));
    rig.drainNetwork();
    trackEvents(1);
    clock->advance(std::chrono::hours(1));
    rig.drainNetwork();
    EXPECT_EQ(collector.requests().size(), 1u) << "no timer runs at interval 0";

    rig.instance->setFlushInterval(30);
    ASSERT_TRUE(collector.waitForRequests(2));
    rig.drainNetwork();
    trackEvents(1);
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(std::chrono::seconds(30));
    EXPECT_TRUE(collector.waitForRequests(3));
    rig.instance->applicationWillResignActive(); // stops the timer, flushes once in the background
    rig.drainNetwork();
    MainExecutor::install(nullptr);
}

TEST_F(FlushTest, FailuresBackOffAndLoseNothing) {
    make();
    trackEvents(5);
    for (int i = 0; i < 3; ++i)
        collector.enqueueAnswer(Answer().withStatus(503));
    for (int i = 0; i < 3; ++i) {
        flush(true);
        rig.wall->advance(600); // past any back-off so far
    }
    rig.wall->advance(-600);
    EXPECT_EQ(sender->networkConsecutiveFailures(), 3);
    const double blocked = sender->networkRequestsAllowedAfterTime() - rig.wall->secondsSince1970();
    EXPECT_GE(blocked, 240);
    EXPECT_LT(blocked, 270);
    flush(true);
    EXPECT_EQ(collector.requests().size(), 3u) << "held back by the back-off";
    EXPECT_EQ(rig.events().size(), 5u);
    rig.wall->advance(270);
    flush(true);
    EXPECT_TRUE(rig.events().empty());
}

} // namespace
} // namespace veltrace::test
