#include "client/Clock.h"

namespace veltrace {

namespace {

class SteadyClock : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                   const std::function<bool()>& wake) override {
        return cv.wait_until(lock, deadline, wake);
    }
};

} // namespace

std::shared_ptr<Clock> Clock::system() {
    static const auto clock = std::make_shared<SteadyClock>();
    return clock;
}

} // namespace veltrace
