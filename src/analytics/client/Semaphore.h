#pragma once

#include "client/Clock.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace veltrace {

// A counting semaphore with time-outs on an injectable clock. Thread-safe.
class Semaphore {
  public:
    explicit Semaphore(long initialCount = 0, std::shared_ptr<Clock> clock = Clock::system());
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void signal();
    void wait();
    // False when the time-out passed first; the count is then unchanged.
    bool wait(Clock::Duration timeout);

  private:
    std::shared_ptr<Clock> clock_;
    std::mutex mutex_;
    std::condition_variable available_;
    long count_; // guarded by mutex_
};

} // namespace veltrace
