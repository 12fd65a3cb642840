#pragma once

#include <atomic>
#include <memory>

namespace veltrace {

// Calendar time for what records carry ("time", "$duration", "$time") and for the network back-off
// (seconds since 1970-01-01 UTC), injectable so that every stamp and delay is exact in tests.
// Implementations are thread-safe.
class WallClock {
  public:
    virtual ~WallClock() = default;
    virtual double secondsSince1970() const = 0;

    // The machine's system clock.
    static std::shared_ptr<WallClock> system();
};

// A wall clock that stands still until told to move. For tests. Thread-safe.
class ManualWallClock : public WallClock {
  public:
    explicit ManualWallClock(double start = 1'700'000'000.0) : now_(start) {}
    double secondsSince1970() const override { return now_.load(); }
    void set(double secondsSince1970) { now_.store(secondsSince1970); }
    void advance(double seconds) {
        double current = now_.load();
        while (!now_.compare_exchange_weak(current, current + seconds)) {
        }
    }

  private:
    std::atomic<double> now_;
};

} // namespace veltrace
