#include "client/RandomSource.h"

#include <random>

namespace veltrace {

namespace {

class SystemRandomSource : public RandomSource {
  public:
    SystemRandomSource() {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        engine_.seed(seed);
    }
    std::uint32_t next() override {
        std::lock_guard lock(mutex_);
        return static_cast<std::uint32_t>(engine_());
    }

  private:
    std::mutex mutex_;
    std::mt19937 engine_;
};

} // namespace

std::uint32_t RandomSource::uniform(std::uint32_t upperBound) {
    if (upperBound == 0)
        return 0;
    // Reject the top slice that would make the low values more likely.
    const std::uint32_t threshold = static_cast<std::uint32_t>(-upperBound) % upperBound;
    for (;;) {
        const std::uint32_t value = next();
        if (value >= threshold)
            return value % upperBound;
    }
}

std::shared_ptr<RandomSource> RandomSource::system() {
    static const auto source = std::make_shared<SystemRandomSource>();
    return source;
}

std::uint32_t SequenceRandomSource::next() {
    std::lock_guard lock(mutex_);
    if (!values_.empty()) {
        last_ = values_.front();
        values_.pop_front();
    }
    return last_;
}

std::uint32_t SequenceRandomSource::uniform(std::uint32_t upperBound) {
    return upperBound == 0 ? 0 : next() % upperBound;
}

void SequenceRandomSource::push(std::uint32_t value) {
    std::lock_guard lock(mutex_);
    values_.push_back(value);
}

} // namespace veltrace
