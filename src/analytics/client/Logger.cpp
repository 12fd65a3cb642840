#include "client/Logger.h"

#include "client/ReadWriteLock.h"

#include <atomic>
#include <vector>

namespace veltrace {

namespace {

constexpr unsigned bit(LogLevel level) {
    return 1u << static_cast<unsigned>(level);
}

struct LoggerState {
    ReadWriteLock lock{"loggerLock"};
    std::vector<std::shared_ptr<Logging>> destinations; // guarded by lock
    // The enabled set. Changed inside lock.write; read without the lock so the check before every
    // message costs one atomic load.
    std::atomic<unsigned> enabledLevels{0};
};

LoggerState& state() {
    // Never destroyed: objects with static lifetime may still log while the process exits.
    static auto* const instance = new LoggerState;
    return *instance;
}

} // namespace

void Logger::addLogging(std::shared_ptr<Logging> destination) {
    if (!destination)
        return;
    auto& s = state();
    s.lock.write([&] { s.destinations.push_back(std::move(destination)); });
}

void Logger::enableLevel(LogLevel level) {
    auto& s = state();
    s.lock.write([&] { s.enabledLevels.fetch_or(bit(level), std::memory_order_relaxed); });
}

void Logger::disableLevel(LogLevel level) {
    auto& s = state();
    s.lock.write([&] { s.enabledLevels.fetch_and(~bit(level), std::memory_order_relaxed); });
}

bool Logger::isEnabled(LogLevel level) {
    return (state().enabledLevels.load(std::memory_order_relaxed) & bit(level)) != 0;
}

void Logger::deliver(LogLevel level, std::string text, std::string_view function, std::string_view filePath) {
    const LogMessage message{std::string(LogMessage::lastPathComponent(filePath)), std::string(function),
                             std::move(text), level};
    auto& s = state();
    const auto destinations = s.lock.read([&] { return s.destinations; });
    // One exclusive section per message: output of two messages never interleaves and every destination
    // sees the same order.
    s.lock.write([&] {
        for (const auto& destination : destinations)
            destination->addMessage(message);
    });
}

} // namespace veltrace
