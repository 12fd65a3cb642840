#pragma once

#include "client/Clock.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace veltrace {

// Where the client runs its completion handlers and its flush timer: the "main queue". The library's
// default runs its own thread; an application installs one that runs work on its GUI thread.
// Implementations are thread-safe: every operation may be called from any thread.
class MainExecutor {
  public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t; // 0 is never a timer

    virtual ~MainExecutor() = default;

    virtual void post(Task task) = 0;
    virtual void postAfter(Clock::Duration delay, Task task) = 0;
    // Runs task every interval, the first time one interval from now, until cancelled.
    virtual TimerId startRepeatingTimer(Clock::Duration interval, Task task) = 0;
    // No tick starts after this returns when it is called on the executor's own thread (from another
    // thread, a tick that is already starting may still run once). Unknown ids are ignored.
    virtual void cancelTimer(TimerId timer) = 0;
    // True on the thread that runs the executor's work.
    virtual bool isCurrent() const = 0;

    // The installed executor; without one, the default own-thread executor, created on first use.
    static std::shared_ptr<MainExecutor> shared();
    // Replaces the executor that shared() returns from now on (null restores the default).
    static void install(std::shared_ptr<MainExecutor> executor);
};

} // namespace veltrace
