#include "analytics/QtMainExecutor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <chrono>

namespace {

std::chrono::milliseconds toMilliseconds(veltrace::Clock::Duration duration) {
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(duration));
}

} // namespace

QtMainExecutor::QtMainExecutor() : context_(std::make_unique<QObject>()) {}

QtMainExecutor::~QtMainExecutor() {
    std::lock_guard lock(mutex_);
    for (auto& [id, timer] : timers_)
        delete timer; // children of context_ otherwise; deleted here while the lock keeps makers out
    timers_.clear();
}

void QtMainExecutor::post(Task task) {
    QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
}

void QtMainExecutor::postAfter(veltrace::Clock::Duration delay, Task task) {
    const auto wait = toMilliseconds(delay);
    // Started on the GUI thread: a QTimer belongs to the thread that starts it.
    post([context = context_.get(), wait, task = std::move(task)]() mutable {
        QTimer::singleShot(wait, Qt::PreciseTimer, context, std::move(task));
    });
}

QtMainExecutor::TimerId QtMainExecutor::startRepeatingTimer(veltrace::Clock::Duration interval, Task task) {
    TimerId id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        timers_[id] = nullptr;
    }
    const auto period = toMilliseconds(interval);
    post([this, id, period, task = std::move(task)]() mutable {
        std::lock_guard lock(mutex_);
        const auto slot = timers_.find(id);
        if (slot == timers_.end())
            return; // cancelled before it was made
        auto* timer = new QTimer(context_.get());
        timer->setInterval(period);
        QObject::connect(timer, &QTimer::timeout, context_.get(), std::move(task));
        timer->start();
        slot->second = timer;
    });
    return id;
}

void QtMainExecutor::cancelTimer(TimerId timer) {
    if (isCurrent()) {
        removeTimer(timer);
        return;
    }
    post([this, timer] { removeTimer(timer); });
}

void QtMainExecutor::removeTimer(TimerId id) {
    QTimer* timer = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto slot = timers_.find(id);
        if (slot == timers_.end())
            return;
        timer = slot->second;
        timers_.erase(slot);
    }
    if (timer) {
        timer->stop();
        timer->deleteLater();
    }
}

bool QtMainExecutor::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}
