#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace veltrace {

// The monotonic time source of the dispatch primitives, injectable so that delays and time-outs can be
// driven by tests. Implementations are thread-safe.
class Clock {
  public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;

    // Blocks on cv, like condition_variable::wait_until with lock held, until wake() is true or this
    // clock has reached deadline. Returns wake().
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           TimePoint deadline, const std::function<bool()>& wake) = 0;

    // The steady clock of the machine.
    static std::shared_ptr<Clock> system();
};

} // namespace veltrace
