#include "client/Logger.h"
#include "client/FileLogging.h"
#include "client/PrintDebugLogging.h"
#include "client/PrintLogging.h"
#include "client/ReadWriteLock.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

using namespace veltrace;
using veltrace::test::RecordingLogging;

namespace {

constexpr LogLevel allLevels[] = {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error};

// Destinations stay registered for the life of the process, so every test shares one recorder.
class LoggerTest : public ::testing::Test {
  protected:
    static RecordingLogging& recorder() {
        static auto instance = [] {
            auto r = std::make_shared<RecordingLogging>();
            Logger::addLogging(r);
            return r;
        }();
        return *instance;
    }
    void SetUp() override {
        recorder().take();
        for (auto level : allLevels)
            Logger::disableLevel(level);
    }
    void TearDown() override {
        for (auto level : allLevels)
            Logger::disableLevel(level);
    }
};

} // namespace

TEST_F(LoggerTest, DisabledLevelNeitherDeliversNorBuildsTheMessage) {
    recorder();
    bool built = false;
    Logger::debug(
        [&] {
            built = true;
            return std::string("x");
        },
        "f()");
    Logger::error(
        [&] {
            built = true;
            return std::string("x");
        },
        "f()");
    EXPECT_FALSE(built);
    EXPECT_TRUE(recorder().take().empty());

    Logger::enableLevel(LogLevel::error);
    Logger::debug(
        [&] {
            built = true;
            return std::string("x");
        },
        "f()");
    EXPECT_FALSE(built);
    Logger::error(
        [&] {
            built = true;
            return std::string("boom");
        },
        "f()");
    EXPECT_TRUE(built);
    const auto messages = recorder().take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "boom");
    EXPECT_EQ(messages[0].function, "f()");
    EXPECT_EQ(messages[0].file, "LoggerTest.cpp");
    EXPECT_EQ(messages[0].level, LogLevel::error);
}

TEST_F(LoggerTest, LevelsAreASetNotACounter) {
    Logger::enableLevel(LogLevel::info);
    Logger::enableLevel(LogLevel::info);
    Logger::disableLevel(LogLevel::info);
    EXPECT_FALSE(Logger::isEnabled(LogLevel::info));
    Logger::info("hidden", "f()");
    EXPECT_TRUE(recorder().take().empty());
}

TEST_F(LoggerTest, DuplicateDestinationReceivesEveryMessageTwice) {
    auto twice = std::make_shared<RecordingLogging>();
    Logger::addLogging(twice);
    Logger::addLogging(twice);
    Logger::enableLevel(LogLevel::warning);
    Logger::warning("one", "f()");
    Logger::warning("two", "f()");
    const auto messages = twice->take();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].text, "one");
    EXPECT_EQ(messages[1].text, "one");
    EXPECT_EQ(messages[2].text, "two");
}

TEST(LogMessageTest, FileIsTheLastPathComponent) {
    EXPECT_EQ(LogMessage::lastPathComponent("/a/b/VTDB.cpp"), "VTDB.cpp");
    EXPECT_EQ(LogMessage::lastPathComponent("VTDB.cpp"), "VTDB.cpp");
    EXPECT_EQ(LogMessage::lastPathComponent("dir/"), "");
}

TEST(LoggingDestinationTest, PrintLoggingWritesOneFlushedLine) {
    PrintLogging print;
    ::testing::internal::CaptureStdout();
    print.addMessage({"VTDB.cpp", "open()", "Project token must not be empty. Database cannot be opened.",
                      LogLevel::error});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[Veltrace - VTDB.cpp - func open()] (error) - Project token must not be empty. Database "
              "cannot be opened.\n");
}

TEST(LoggingDestinationTest, PrintDebugLoggingQuotesAndEscapes) {
    EXPECT_EQ(PrintDebugLogging::quoted("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u{1}\"");
    PrintDebugLogging print;
    ::testing::internal::CaptureStdout();
    print.addMessage({"F.cpp", "g()", "say \"hi\"", LogLevel::info});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\"[Veltrace - F.cpp - func g()] (info) - say \\\"hi\\\"\"\n");
}

TEST(LoggingDestinationTest, FileLoggingWritesMessagesBackToBack) {
    const auto path =
        std::filesystem::temp_directory_path() / ("veltrace-filelog-" + std::to_string(::getpid()));
    std::filesystem::remove(path);
    {
        FileLogging file(path);
        ASSERT_TRUE(file.isOpen());
        file.addMessage({"A.cpp", "one()", "first", LogLevel::debug});
        file.addMessage({"B.cpp", "two()", "second", LogLevel::warning});
    }
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "File: A.cpp - Func: one() - Level: debug - Message: first"
                             "File: B.cpp - Func: two() - Level: warning - Message: second");
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove(path);
}

// Many threads logging while levels flip and destinations register: every message arrives whole, in one
// common order for all destinations, and nothing races (run under ThreadSanitizer in CI).
TEST_F(LoggerTest, ConcurrentLoggingFromEightThreads) {
    auto second = std::make_shared<RecordingLogging>();
    Logger::addLogging(second);
    Logger::enableLevel(LogLevel::info);
    constexpr int threads = 8, perThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                Logger::info([&] { return std::to_string(t) + ":" + std::to_string(i); }, "worker()");
                if (i % 50 == 0) {
                    Logger::enableLevel(LogLevel::debug); // writers interleaved with readers
                    Logger::disableLevel(LogLevel::debug);
                }
            }
        });
    for (auto& w : workers)
        w.join();
    const auto a = recorder().take();
    const auto b = second->take();
    ASSERT_EQ(a.size(), size_t(threads * perThread));
    ASSERT_EQ(b.size(), a.size());
    std::vector<int> next(threads, 0);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].text, b[i].text);
        const auto colon = a[i].text.find(':');
        const int t = std::stoi(a[i].text.substr(0, colon));
        EXPECT_EQ(std::stoi(a[i].text.substr(colon + 1)), next[t]++); // each thread's messages in order
    }
}

TEST(ReadWriteLockTest, KeepsItsLabelAndReturnsBodyResults) {
    ReadWriteLock lock("com.veltrace.globallock");
    EXPECT_EQ(lock.label(), "com.veltrace.globallock");
    EXPECT_EQ(lock.read([] { return 7; }), 7);
    EXPECT_EQ(lock.write([] { return std::string("w"); }), "w");
}

TEST(ReadWriteLockTest, ReadersShareAndWritersExcludeAcrossEightThreads) {
    ReadWriteLock lock("test");
    std::atomic<int> readersInside{0};
    std::atomic<int> maxReadersInside{0};
    std::atomic<bool> writerSawReader{false};
    long counter = 0; // guarded by lock
    std::atomic<int> arrived{0};
    constexpr int threads = 8;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            // All readers enter one read section together, so sharing is observed, not assumed.
            if (t < 4) {
                lock.read([&] {
                    const int inside = ++readersInside;
                    int seen = maxReadersInside.load();
                    while (seen < inside && !maxReadersInside.compare_exchange_weak(seen, inside)) {
                    }
                    ++arrived;
                    // The other readers get in while this one is still inside (bounded, should that fail).
                    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                    while (arrived.load() < 4 && std::chrono::steady_clock::now() < giveUp)
                        std::this_thread::yield();
                    --readersInside;
                    return 0;
                });
            }
            for (int i = 0; i < 1000; ++i) {
                lock.write([&] {
                    if (readersInside.load() != 0)
                        writerSawReader = true;
                    ++counter;
                });
                lock.read([&] { return counter; });
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(counter, threads * 1000L);
    EXPECT_EQ(maxReadersInside.load(), 4);
    EXPECT_FALSE(writerSawReader.load());
}
