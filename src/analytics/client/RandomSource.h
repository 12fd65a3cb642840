#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace veltrace {

// Where the client's random numbers come from (session and record ids, device UUIDs, back-off
// jitter), injectable so that ids and delays are exact in tests. Implementations are thread-safe.
class RandomSource {
  public:
    virtual ~RandomSource() = default;
    // 32 uniformly random bits.
    virtual std::uint32_t next() = 0;
    // A uniformly random number in [0, upperBound); 0 when upperBound is 0. Unbiased.
    virtual std::uint32_t uniform(std::uint32_t upperBound);

    // Seeded from the operating system's entropy once per process.
    static std::shared_ptr<RandomSource> system();
};

// Hands out the numbers it is given, in order, then repeats the last one (0 when given none);
// uniform() takes the next number modulo the bound. For tests. Thread-safe.
class SequenceRandomSource : public RandomSource {
  public:
    explicit SequenceRandomSource(std::deque<std::uint32_t> values = {}) : values_(std::move(values)) {}
    std::uint32_t next() override;
    std::uint32_t uniform(std::uint32_t upperBound) override;
    void push(std::uint32_t value);

  private:
    std::mutex mutex_;
    std::deque<std::uint32_t> values_;
    std::uint32_t last_ = 0;
};

} // namespace veltrace
