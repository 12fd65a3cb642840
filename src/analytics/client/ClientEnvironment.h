#pragma once

#include "client/Clock.h"
#include "client/RandomSource.h"
#include "client/WallClock.h"

#include <memory>

namespace veltrace {

// The time and randomness a client instance depends on; tests replace them to make every stamp, id and
// delay exact. Plain value type.
struct ClientEnvironment {
    std::shared_ptr<WallClock> wallClock = WallClock::system();
    std::shared_ptr<RandomSource> random = RandomSource::system();
    // Monotonic: the network's waits.
    std::shared_ptr<Clock> clock = Clock::system();
};

} // namespace veltrace
