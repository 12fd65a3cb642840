#include "LogCapture.h"

#include "client/MainExecutor.h"
#include "client/ManualClock.h"
#include "client/Semaphore.h"
#include "client/SerialQueue.h"
#include "client/ThreadMainExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace veltrace;
using namespace std::chrono_literals;

namespace {
// Generous real-time bound for waiting on something that must happen; a hang fails instead of blocking.
constexpr auto patience = 30s;

// Appends under a lock; read after the work is known to be done.
struct Trace {
    std::mutex mutex;
    std::vector<int> items;
    void add(int item) {
        std::lock_guard lock(mutex);
        items.push_back(item);
    }
    std::vector<int> get() {
        std::lock_guard lock(mutex);
        return items;
    }
};
} // namespace

TEST(SerialQueueTest, RunsWorkOneAtATimeInSubmissionOrderOnItsOwnThread) {
    SerialQueue queue("com.veltrace.test.tracking");
    EXPECT_EQ(queue.label(), "com.veltrace.test.tracking");
    EXPECT_FALSE(queue.isCurrent());
    constexpr int producers = 4, perProducer = 250;
    std::vector<std::vector<int>> seen(producers);
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false}, offQueue{false};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i)
                queue.async([&, p, i] {
                    if (++inside != 1)
                        overlapped = true;
                    if (!queue.isCurrent())
                        offQueue = true;
                    seen[p].push_back(i); // unsynchronised on purpose: the queue is the only writer
                    --inside;
                });
        });
    for (auto& t : threads)
        t.join();
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(offQueue);
    for (int p = 0; p < producers; ++p) {
        ASSERT_EQ(seen[p].size(), size_t(perProducer));
        for (int i = 0; i < perProducer; ++i)
            EXPECT_EQ(seen[p][i], i);
    }
}

TEST(SerialQueueTest, SyncWaitsForEarlierWorkAndReturnsTheResult) {
    SerialQueue queue("q");
    int counter = 0; // only touched on the queue
    for (int i = 0; i < 100; ++i)
        queue.async([&] { ++counter; });
    int seen = -1;
    std::thread other([&] { seen = queue.sync([&] { return counter; }); });
    other.join();
    EXPECT_EQ(seen, 100);

    // From inside the queue, sync runs the body directly instead of waiting for itself.
    const auto nested = queue.sync([&] { return queue.sync([&] { return queue.isCurrent() ? 7 : 0; }); });
    EXPECT_EQ(nested, 7);

    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
    queue.async([] { throw std::runtime_error("dropped"); }); // must not take the worker down
    EXPECT_EQ(queue.sync([] { return 1; }), 1);
}

TEST(SerialQueueTest, DelayedWorkRunsWhenItsDeadlineIsReachedOnTheInjectedClock) {
    auto clock = std::make_shared<ManualClock>();
    SerialQueue queue("q", clock);
    Trace trace;
    Semaphore ran;
    queue.asyncAfter(5s, [&] {
        trace.add(5);
        ran.signal();
    });
    queue.asyncAfter(1s, [&] {
        trace.add(1);
        ran.signal();
    });
    queue.asyncAfter(5s, [&] {
        trace.add(55);
        ran.signal();
    }); // same deadline: after the first
    queue.async([&] { trace.add(0); });
    queue.sync([] {});
    EXPECT_EQ(trace.get(), std::vector<int>{0}); // nothing delayed ran early

    clock->advance(1s);
    ASSERT_TRUE(ran.wait(patience));
    EXPECT_EQ(trace.get(), (std::vector<int>{0, 1}));

    clock->advance(4s);
    ASSERT_TRUE(ran.wait(patience));
    ASSERT_TRUE(ran.wait(patience));
    EXPECT_EQ(trace.get(), (std::vector<int>{0, 1, 5, 55}));
}

TEST(SerialQueueTest, DelayedWorkOnTheSystemClockNeverRunsEarly) {
    SerialQueue queue("q");
    Semaphore ran;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point at;
    queue.asyncAfter(30ms, [&] {
        at = std::chrono::steady_clock::now();
        ran.signal();
    });
    ASSERT_TRUE(ran.wait(patience));
    EXPECT_GE(at - start, 30ms);
}

TEST(SerialQueueTest, DestructionRunsQueuedWorkButDropsDelayedWork) {
    std::atomic<int> ran{0};
    auto token = std::make_shared<int>(0);
    {
        SerialQueue queue("q");
        queue.asyncAfter(1h, [&ran, token] { ran += 1000; });
        for (int i = 0; i < 50; ++i)
            queue.async([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 50);
    EXPECT_EQ(token.use_count(), 1); // the delayed closure was destroyed, not leaked
}

TEST(SerialQueueTest, DestructionIsBoundedWhenAnItemIsBlocked) {
    Semaphore gate, started, finished;
    auto queued = std::make_shared<int>(0);
    std::atomic<bool> queuedRan{false};
    {
        SerialQueue queue("q", Clock::system(), 20ms);
        queue.async([&] {
            started.signal();
            gate.wait();
            finished.signal();
        });
        queue.async([&queuedRan, queued] { queuedRan = true; });
        ASSERT_TRUE(started.wait(patience));
    }                                 // returns after about 20 ms although the first item is still blocked
    EXPECT_EQ(queued.use_count(), 1); // the queued item was discarded
    gate.signal();
    ASSERT_TRUE(finished.wait(patience)); // the abandoned worker still finishes its item
    EXPECT_FALSE(queuedRan);
}

TEST(SerialQueueTest, AnExceptionEscapingQueuedWorkIsLoggedAsAnErrorNamingTheQueue) {
    veltrace::test::LogCapture log;
    SerialQueue queue("com.example.throwing");
    queue.async([] { throw std::runtime_error("disk gone"); });
    EXPECT_THROW(queue.sync([] { throw std::logic_error("caller's"); }), std::logic_error);
    queue.async([] { throw 42; });
    queue.sync([] {});
    std::vector<std::string> errors;
    for (const auto& message : log.take())
        if (message.level == LogLevel::error)
            errors.push_back(message.text);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "Work on queue com.example.throwing ended with an exception: disk gone",
                          "Work on queue com.example.throwing ended with an exception: one of unknown type"}))
        << "the exception sync hands to its caller is the caller's to report";
}

TEST(SerialQueueTest, CanBeDestroyedFromItsOwnWork) {
    auto queue = std::make_unique<SerialQueue>("q");
    Semaphore done;
    queue->async([&] {
        queue.reset();
        done.signal();
    });
    ASSERT_TRUE(done.wait(patience));
    EXPECT_EQ(queue, nullptr);
}

TEST(SemaphoreTest, CountsSignalsAndTimesOutOnTheInjectedClock) {
    auto clock = std::make_shared<ManualClock>();
    Semaphore semaphore(1, clock);
    semaphore.signal();
    EXPECT_TRUE(semaphore.wait(0s));
    EXPECT_TRUE(semaphore.wait(0s));
    EXPECT_FALSE(semaphore.wait(0s));

    std::atomic<int> result{-1};
    std::thread waiter([&] { result = semaphore.wait(10s) ? 1 : 0; });
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(9s);
    EXPECT_EQ(result.load(), -1);
    clock->advance(1s);
    waiter.join();
    EXPECT_EQ(result.load(), 0);

    std::thread signalled([&] { result = semaphore.wait(10s) ? 1 : 0; });
    ASSERT_TRUE(clock->waitForWaiters(1));
    semaphore.signal();
    signalled.join();
    EXPECT_EQ(result.load(), 1);
}

TEST(SemaphoreTest, TimesOutOnTheSystemClock) {
    Semaphore semaphore;
    EXPECT_FALSE(semaphore.wait(5ms));
}

namespace {
// Runs on the executor after everything due by now, including timer ticks that fell due in an advance.
void drain(ThreadMainExecutor& executor) {
    Semaphore done;
    executor.postAfter(Clock::Duration::zero(), [&] { done.signal(); });
    ASSERT_TRUE(done.wait(patience));
}
} // namespace

TEST(ThreadMainExecutorTest, PostsAndDelaysOnItsOwnThread) {
    auto clock = std::make_shared<ManualClock>();
    ThreadMainExecutor executor(clock);
    EXPECT_FALSE(executor.isCurrent());
    Semaphore ran;
    std::atomic<bool> onExecutor{false};
    executor.post([&] {
        onExecutor = executor.isCurrent();
        ran.signal();
    });
    ASSERT_TRUE(ran.wait(patience));
    EXPECT_TRUE(onExecutor);

    std::atomic<bool> late{false};
    executor.postAfter(2s, [&] {
        late = true;
        ran.signal();
    });
    drain(executor);
    EXPECT_FALSE(late);
    clock->advance(2s);
    ASSERT_TRUE(ran.wait(patience));
    EXPECT_TRUE(late);
}

TEST(ThreadMainExecutorTest, RepeatingTimerTicksAtItsRateSkipsMissedTicksAndStopsWhenCancelled) {
    auto clock = std::make_shared<ManualClock>();
    ThreadMainExecutor executor(clock);
    std::atomic<int> ticks{0};
    const auto timer = executor.startRepeatingTimer(10s, [&] { ++ticks; });
    ASSERT_NE(timer, 0u);
    clock->advance(9s);
    drain(executor);
    EXPECT_EQ(ticks.load(), 0);
    clock->advance(1s);
    drain(executor);
    EXPECT_EQ(ticks.load(), 1);
    clock->advance(35s); // three intervals missed: one tick, then the rate resumes from now
    drain(executor);
    EXPECT_EQ(ticks.load(), 2);
    clock->advance(10s);
    drain(executor);
    EXPECT_EQ(ticks.load(), 3);
    executor.cancelTimer(timer);
    executor.cancelTimer(timer + 100); // unknown ids are ignored
    clock->advance(100s);
    drain(executor);
    EXPECT_EQ(ticks.load(), 3);
}

TEST(ThreadMainExecutorTest, TimerCanCancelItselfFromItsTick) {
    auto clock = std::make_shared<ManualClock>();
    ThreadMainExecutor executor(clock);
    std::atomic<int> ticks{0};
    std::atomic<MainExecutor::TimerId> timer{0};
    timer = executor.startRepeatingTimer(1s, [&] {
        if (++ticks == 2)
            executor.cancelTimer(timer);
    });
    for (int i = 0; i < 5; ++i) {
        clock->advance(1s);
        drain(executor);
    }
    EXPECT_EQ(ticks.load(), 2);
}

TEST(MainExecutorTest, SharedIsTheInstalledExecutorElseAnOwnThreadDefault) {
    auto mine = std::make_shared<ThreadMainExecutor>();
    MainExecutor::install(mine);
    EXPECT_EQ(MainExecutor::shared(), mine);
    MainExecutor::install(nullptr);
    const auto fallback = MainExecutor::shared();
    ASSERT_NE(fallback, nullptr);
    EXPECT_NE(fallback, mine);
    EXPECT_EQ(MainExecutor::shared(), fallback);
    Semaphore ran;
    fallback->post([&] { ran.signal(); });
    EXPECT_TRUE(ran.wait(patience));
}
