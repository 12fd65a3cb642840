// Test helper: collects the client logger's messages while a test runs.
#pragma once

#include "client/LogMessage.h"
#include "client/Logger.h"
#include "client/Logging.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace veltrace::test {

// A log destination that keeps what it is given; the logger delivers from any thread.
class RecordingLogging : public Logging {
  public:
    void addMessage(const LogMessage& message) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
    }
    std::vector<LogMessage> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(messages_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<LogMessage> messages_;
};

// Destinations stay registered for the life of the process, so all tests of a binary share one
// recorder; a LogCapture clears it, enables every level, and disables them again when it ends.
class LogCapture {
  public:
    LogCapture() {
        recorder().take();
        for (auto level : {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error})
            Logger::enableLevel(level);
    }
    ~LogCapture() {
        for (auto level : {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error})
            Logger::disableLevel(level);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogMessage> take() { return recorder().take(); }

    // How many messages with exactly this text were delivered since the last take().
    static std::size_t count(const std::vector<LogMessage>& messages, const std::string& text) {
        return static_cast<std::size_t>(std::count_if(messages.begin(), messages.end(),
                                                      [&](const LogMessage& m) { return m.text == text; }));
    }
    static bool containsPrefix(const std::vector<LogMessage>& messages, const std::string& prefix) {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const LogMessage& m) { return m.text.rfind(prefix, 0) == 0; });
    }

  private:
    static RecordingLogging& recorder() {
        static auto instance = [] {
            auto created = std::make_shared<RecordingLogging>();
            Logger::addLogging(created);
            return created;
        }();
        return *instance;
    }
};

} // namespace veltrace::test
