#pragma once

#include "client/MainExecutor.h"

#include <QObject>

#include <map>
#include <memory>
#include <mutex>

class QTimer;

// The analytics client's main executor on Qt's GUI thread: completions and the flush timer run there,
// like every other timer of the application.
// Thread safety: every operation may be called from any thread; timers are made and destroyed on the GUI
// thread only. Create it on the GUI thread.
class QtMainExecutor : public veltrace::MainExecutor {
  public:
    QtMainExecutor();
    ~QtMainExecutor() override;

    void post(Task task) override;
    void postAfter(veltrace::Clock::Duration delay, Task task) override;
    TimerId startRepeatingTimer(veltrace::Clock::Duration interval, Task task) override;
    void cancelTimer(TimerId timer) override;
    bool isCurrent() const override;

  private:
    void removeTimer(TimerId id);

    std::unique_ptr<QObject> context_;
    std::mutex mutex_;
    TimerId nextId_ = 1;                // guarded by mutex_
    std::map<TimerId, QTimer*> timers_; // guarded by mutex_; null while the timer is still to be made
};
