#include "client/WallClock.h"

#include <chrono>

namespace veltrace {

namespace {

class SystemWallClock : public WallClock {
  public:
    double secondsSince1970() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
};

} // namespace

std::shared_ptr<WallClock> WallClock::system() {
    static const auto clock = std::make_shared<SystemWallClock>();
    return clock;
}

} // namespace veltrace
