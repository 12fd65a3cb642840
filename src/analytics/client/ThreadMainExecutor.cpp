#include "client/ThreadMainExecutor.h"

#include "client/SerialQueue.h"

#include <map>
#include <mutex>

namespace veltrace {

struct ThreadMainExecutor::Impl {
    struct Timer {
        Clock::Duration interval;
        Task task;
        Clock::TimePoint nextFire;
    };

    Impl(std::shared_ptr<Clock> c, std::string label) : clock(c), queue(std::move(label), std::move(c)) {}

    std::shared_ptr<Clock> clock;
    std::mutex timersMutex;
    std::map<TimerId, std::shared_ptr<Timer>> timers; // guarded by timersMutex
    TimerId lastId = 0;                               // guarded by timersMutex
    SerialQueue queue; // last member: destroyed (and drained) while the timers still exist

    static void schedule(const std::shared_ptr<Impl>& self, TimerId id, Clock::TimePoint at) {
        // Ticks hold the executor weakly: a tick that outlives it does nothing.
        self->queue.asyncAfter(at - self->clock->now(), [weak = std::weak_ptr<Impl>(self), id] {
            if (auto impl = weak.lock())
                impl->tick(impl, id);
        });
    }

    void tick(const std::shared_ptr<Impl>& self, TimerId id) {
        std::shared_ptr<Timer> timer;
        {
            std::lock_guard lock(timersMutex);
            auto it = timers.find(id);
            if (it == timers.end())
                return;
            timer = it->second;
        }
        timer->task();
        std::lock_guard lock(timersMutex);
        if (!timers.contains(id))
            return; // cancelled by its own tick
        // A fixed rate; ticks missed while the thread was busy are skipped, not bunched up.
        const auto now = clock->now();
        timer->nextFire += timer->interval;
        if (timer->nextFire <= now)
            timer->nextFire = now + timer->interval;
        schedule(self, id, timer->nextFire);
    }
};

ThreadMainExecutor::ThreadMainExecutor(std::shared_ptr<Clock> clock, std::string label)
    : impl_(std::make_shared<Impl>(std::move(clock), std::move(label))) {}

ThreadMainExecutor::~ThreadMainExecutor() {
    {
        std::lock_guard lock(impl_->timersMutex);
        impl_->timers.clear();
    }
    impl_.reset(); // from a tick of its own, the tick's reference finishes the job
}

void ThreadMainExecutor::post(Task task) {
    impl_->queue.async(std::move(task));
}

void ThreadMainExecutor::postAfter(Clock::Duration delay, Task task) {
    impl_->queue.asyncAfter(delay, std::move(task));
}

MainExecutor::TimerId ThreadMainExecutor::startRepeatingTimer(Clock::Duration interval, Task task) {
    if (!task || interval <= Clock::Duration::zero())
        return 0;
    std::lock_guard lock(impl_->timersMutex);
    const TimerId id = ++impl_->lastId;
    auto timer =
        std::make_shared<Impl::Timer>(Impl::Timer{interval, std::move(task), impl_->clock->now() + interval});
    impl_->timers.emplace(id, timer);
    Impl::schedule(impl_, id, timer->nextFire);
    return id;
}

void ThreadMainExecutor::cancelTimer(TimerId timer) {
    std::lock_guard lock(impl_->timersMutex);
    impl_->timers.erase(timer);
}

bool ThreadMainExecutor::isCurrent() const {
    return impl_->queue.isCurrent();
}

} // namespace veltrace
