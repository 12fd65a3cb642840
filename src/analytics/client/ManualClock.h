#pragma once

#include "client/Clock.h"

#include <atomic>
#include <vector>

namespace veltrace {

// A clock that moves only when told to; threads waiting on it wake when an advance reaches their
// deadline. For tests. Thread-safe; advance must not be called while holding a mutex that a waiter uses.
class ManualClock : public Clock {
  public:
    TimePoint now() const override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                   const std::function<bool()>& wake) override;

    void advance(Duration by);
    // Blocks until at least count threads wait on this clock, so that an advance is sure to concern them.
    // False when that has not happened within timeout (real time).
    bool waitForWaiters(size_t count, std::chrono::seconds timeout = std::chrono::seconds(30)) const;

  private:
    struct Waiter {
        std::mutex* mutex;
        std::condition_variable* cv;
    };
    std::atomic<Duration::rep> elapsed_{0};
    mutable std::mutex registryMutex_;
    mutable std::condition_variable registryChanged_;
    std::vector<Waiter*> waiters_; // guarded by registryMutex_
};

} // namespace veltrace
