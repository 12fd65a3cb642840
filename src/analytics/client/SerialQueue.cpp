#include "client/SerialQueue.h"

#include "client/Logger.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

namespace veltrace {

struct SerialQueue::State {
    State(std::shared_ptr<Clock> c, std::string l) : clock(std::move(c)), label(std::move(l)) {}

    std::shared_ptr<Clock> clock;
    const std::string label;
    std::mutex mutex;
    std::condition_variable changed;               // new work, or stopping
    std::condition_variable finishedCv;            // the worker has left its loop
    std::deque<Task> ready;                        // guarded by mutex
    std::multimap<Clock::TimePoint, Task> delayed; // guarded by mutex; equal deadlines keep their order
    unsigned long generation = 0;                  // guarded by mutex; bumped by every submission
    bool stopping = false;                         // guarded by mutex
    bool finished = false;                         // guarded by mutex
    std::thread worker;

    void run();
};

namespace {
thread_local const SerialQueue::State* currentQueue = nullptr;

void reportEscaped(const std::string& label, const char* what) {
    try {
        Logger::error([&] { return "Work on queue " + label + " ended with an exception: " + what; },
                      "runGuarded(_:)");
    } catch (...) { // the report must not take the worker down either
    }
}

// Work must not take the worker down: an escaping exception is dropped with the item, and said.
void runGuarded(SerialQueue::Task& task, const std::string& label) {
    try {
        task();
    } catch (const std::exception& failure) {
        reportEscaped(label, failure.what());
    } catch (...) {
        reportEscaped(label, "one of unknown type");
    }
}
} // namespace

void SerialQueue::State::run() {
    currentQueue = this;
    std::unique_lock lock(mutex);
    for (;;) {
        const auto now = clock->now();
        while (!delayed.empty() && delayed.begin()->first <= now) {
            ready.push_back(std::move(delayed.begin()->second));
            delayed.erase(delayed.begin());
        }
        if (!ready.empty()) {
            Task task = std::move(ready.front());
            ready.pop_front();
            lock.unlock();
            runGuarded(task, label);
            task = nullptr; // captures die outside the lock
            lock.lock();
            continue;
        }
        if (stopping)
            break;
        const auto seen = generation;
        const auto woken = [&] { return stopping || generation != seen; };
        if (delayed.empty())
            changed.wait(lock, woken);
        else
            clock->waitUntil(lock, changed, delayed.begin()->first, woken);
    }
    finished = true;
    lock.unlock();
    finishedCv.notify_all();
}

SerialQueue::SerialQueue(std::string label, std::shared_ptr<Clock> clock,
                         std::chrono::milliseconds drainTimeout)
    : label_(std::move(label)), state_(std::make_shared<State>(std::move(clock), label_)),
      drainTimeout_(drainTimeout) {
    // The worker shares the state, so a worker left behind by a bounded shutdown never outlives it.
    state_->worker = std::thread([state = state_] { state->run(); });
}

SerialQueue::~SerialQueue() {
    stop();
}

void SerialQueue::stop(bool discardQueued) {
    auto& s = *state_;
    std::deque<Task> discarded;
    std::multimap<Clock::TimePoint, Task> discardedDelayed;
    std::unique_lock lock(s.mutex);
    if (s.stopping)
        return;
    s.stopping = true;
    discardedDelayed.swap(s.delayed);
    if (discardQueued)
        discarded.swap(s.ready);
    s.changed.notify_all();
    const bool onWorker = isCurrent();
    if (!onWorker)
        s.finishedCv.wait_for(lock, drainTimeout_, [&] { return s.finished; });
    const bool finished = s.finished;
    if (!finished) {
        discarded.insert(discarded.end(), std::make_move_iterator(s.ready.begin()),
                         std::make_move_iterator(s.ready.end()));
        s.ready.clear();
    }
    lock.unlock();
    if (finished)
        s.worker.join();
    else
        s.worker.detach();
}

bool SerialQueue::isCurrent() const {
    return currentQueue == state_.get();
}

void SerialQueue::async(Task task) {
    if (!task)
        return;
    std::unique_lock lock(state_->mutex);
    if (state_->stopping)
        return; // the task dies with the caller's copy, outside the lock
    state_->ready.push_back(std::move(task));
    ++state_->generation;
    // Notified under the lock: once queued, the work may destroy this queue before we return.
    state_->changed.notify_one();
}

void SerialQueue::asyncAfter(Clock::Duration delay, Task task) {
    if (!task)
        return;
    std::unique_lock lock(state_->mutex);
    if (state_->stopping)
        return;
    state_->delayed.emplace(state_->clock->now() + delay, std::move(task));
    ++state_->generation;
    state_->changed.notify_one();
}

namespace {
// What a sync caller waits for. The task settles it when it is destroyed, whether it ran or was discarded
// by a bounded shutdown, so the caller never waits for work that will not run.
struct SyncCall {
    std::mutex mutex;
    std::condition_variable settledCv;
    bool settled = false;
    bool ran = false;
    std::exception_ptr failure;
};
struct SettleOnDestruction {
    std::shared_ptr<SyncCall> call;
    ~SettleOnDestruction() {
        std::lock_guard lock(call->mutex);
        call->settled = true;
        call->settledCv.notify_all();
    }
};
} // namespace

void SerialQueue::runSync(const std::function<void()>& body) {
    if (isCurrent()) {
        body();
        return;
    }
    auto call = std::make_shared<SyncCall>();
    {
        std::unique_lock lock(state_->mutex);
        if (state_->stopping) {
            lock.unlock();
            body();
            return;
        }
        state_->ready.push_back([call, settle = std::make_shared<SettleOnDestruction>(call), &body] {
            try {
                body();
            } catch (...) {
                call->failure = std::current_exception();
            }
            call->ran = true;
        });
        ++state_->generation;
        state_->changed.notify_one();
    }
    std::unique_lock lock(call->mutex);
    call->settledCv.wait(lock, [&] { return call->settled; });
    if (!call->ran) {
        lock.unlock();
        body();
    } else if (call->failure) {
        std::rethrow_exception(call->failure);
    }
}

} // namespace veltrace
