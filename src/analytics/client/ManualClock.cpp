#include "client/ManualClock.h"

#include <algorithm>

namespace veltrace {

Clock::TimePoint ManualClock::now() const {
    // Starts at an arbitrary, positive point so that callers may subtract durations freely.
    return TimePoint(std::chrono::hours(1)) + Duration(elapsed_.load());
}

bool ManualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                            TimePoint deadline, const std::function<bool()>& wake) {
    Waiter waiter{lock.mutex(), &cv};
    // The waiter's mutex is never held while taking the registry mutex; advance takes them the other
    // way round.
    lock.unlock();
    {
        std::lock_guard registry(registryMutex_);
        waiters_.push_back(&waiter);
    }
    registryChanged_.notify_all();
    lock.lock();
    cv.wait(lock, [&] { return wake() || now() >= deadline; });
    lock.unlock();
    {
        std::lock_guard registry(registryMutex_);
        waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &waiter));
    }
    lock.lock();
    return wake();
}

void ManualClock::advance(Duration by) {
    std::lock_guard registry(registryMutex_);
    elapsed_.fetch_add(by.count());
    // Taking each waiter's mutex orders this notification after its last look at the time.
    for (Waiter* waiter : waiters_) {
        std::lock_guard lock(*waiter->mutex);
        waiter->cv->notify_all();
    }
}

bool ManualClock::waitForWaiters(size_t count, std::chrono::seconds timeout) const {
    std::unique_lock registry(registryMutex_);
    return registryChanged_.wait_for(registry, timeout, [&] { return waiters_.size() >= count; });
}

} // namespace veltrace
