#include "InstanceRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

namespace veltrace::test {
namespace {

// Eight threads track while another identifies, registers super properties and flushes: every event is
// stored once, and each thread's events in the order it tracked them.
TEST(TrackConcurrencyTest, EveryEventStoredOnceInEachThreadsOrder) {
    InstanceRig rig;
    auto instance = rig.make();
    constexpr int threads = 8;
    constexpr int perThread = 1000;
    std::atomic<bool> done{false};
    std::thread meddler([&] {
        // Bounded, and spread over the trackers' run: each round rewrites the stored identity.
        for (int round = 0; round < 60 && !done.load(); ++round) {
            instance->identify("user-" + std::to_string(round % 3));
            instance->registerSuperProperties({{"round", round}});
            instance->flush(round % 2 == 0);
            instance->trackingQueue().sync([] {});
        }
    });
    std::vector<std::thread> trackers;
    for (int t = 0; t < threads; ++t) {
        trackers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                instance->track("tick", PropertyMap{{"thread", t}, {"seq", i}});
        });
    }
    for (auto& tracker : trackers)
        tracker.join();
    done = true;
    meddler.join();

    std::map<int, int> next;
    int ticks = 0;
    for (const auto& event : rig.events()) {
        if (text(event, "event") != "tick")
            continue;
        ++ticks;
        const auto properties = propertiesOf(event);
        const int thread = static_cast<int>(number(properties.at("thread")));
        const int seq = static_cast<int>(number(properties.at("seq")));
        ASSERT_EQ(seq, next[thread]) << "thread " << thread;
        next[thread] = seq + 1;
    }
    EXPECT_EQ(ticks, threads * perThread);
}

} // namespace
} // namespace veltrace::test
