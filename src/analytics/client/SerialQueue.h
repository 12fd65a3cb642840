#pragma once

#include "client/Clock.h"

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace veltrace {

// A labelled serial queue: one worker thread runs submitted work one item at a time, in submission order
// (delayed work joins the order when it falls due). Thread-safe; work may submit more work.
//
// Destruction is bounded. Delayed work that is not yet due is discarded at once, and so is work submitted
// after destruction began. Work already queued still runs, as long as the queue empties within
// drainTimeout; when it does not (an item is blocked), the remaining items are discarded and the worker
// is left to finish its current item on its own and then exit. Destroying the queue from one of its own
// items never waits.
class SerialQueue {
  public:
    using Task = std::function<void()>;

    explicit SerialQueue(std::string label, std::shared_ptr<Clock> clock = Clock::system(),
                         std::chrono::milliseconds drainTimeout = std::chrono::seconds(2));
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Stops the queue the way destruction does; `discardQueued` drops the work already queued instead
    // of running it. Later work is discarded, and sync() runs its body in place. Only the first call acts.
    void stop(bool discardQueued = false);

    const std::string& label() const { return label_; }
    // True on this queue's worker thread.
    bool isCurrent() const;

    void async(Task task);
    void asyncAfter(Clock::Duration delay, Task task);

    // Runs body on the queue after the work already queued and returns its result (or rethrows its
    // exception). Called from the queue's own worker, or once the queue is being destroyed, it runs the
    // body directly instead of waiting for itself.
    template <class Body> auto sync(Body&& body) -> std::invoke_result_t<Body&> {
        using Result = std::invoke_result_t<Body&>;
        if constexpr (std::is_void_v<Result>) {
            runSync([&] { body(); });
        } else {
            std::optional<Result> result;
            runSync([&] { result.emplace(body()); });
            return std::move(*result);
        }
    }

    struct State;

  private:
    void runSync(const std::function<void()>& body);

    std::string label_;
    std::shared_ptr<State> state_;
    std::chrono::milliseconds drainTimeout_;
};

} // namespace veltrace
