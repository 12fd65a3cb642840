#include "client/Semaphore.h"

namespace veltrace {

Semaphore::Semaphore(long initialCount, std::shared_ptr<Clock> clock)
    : clock_(std::move(clock)), count_(initialCount) {}

void Semaphore::signal() {
    std::lock_guard lock(mutex_);
    ++count_;
    // Under the lock: a waiter that returns may destroy the semaphore at once.
    available_.notify_one();
}

void Semaphore::wait() {
    std::unique_lock lock(mutex_);
    available_.wait(lock, [&] { return count_ > 0; });
    --count_;
}

bool Semaphore::wait(Clock::Duration timeout) {
    std::unique_lock lock(mutex_);
    if (!clock_->waitUntil(lock, available_, clock_->now() + timeout, [&] { return count_ > 0; }))
        return false;
    --count_;
    return true;
}

} // namespace veltrace
