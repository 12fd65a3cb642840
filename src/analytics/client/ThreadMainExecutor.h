#pragma once

#include "client/MainExecutor.h"

#include <memory>
#include <string>

namespace veltrace {

// The default main executor: one worker thread of its own (a SerialQueue), timers on an injectable
// clock. Thread-safe. Destruction follows SerialQueue's bounded shutdown; timers stop with it.
class ThreadMainExecutor : public MainExecutor {
  public:
    explicit ThreadMainExecutor(std::shared_ptr<Clock> clock = Clock::system(),
                                std::string label = "com.veltrace.main");
    ~ThreadMainExecutor() override;

    void post(Task task) override;
    void postAfter(Clock::Duration delay, Task task) override;
    TimerId startRepeatingTimer(Clock::Duration interval, Task task) override;
    void cancelTimer(TimerId timer) override;
    bool isCurrent() const override;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

} // namespace veltrace
