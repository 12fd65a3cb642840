#include "client/MainExecutor.h"

#include "client/ThreadMainExecutor.h"

#include <mutex>
#include <utility>

namespace veltrace {

namespace {
std::mutex executorMutex;
std::shared_ptr<MainExecutor> installedExecutor; // guarded by executorMutex
} // namespace

std::shared_ptr<MainExecutor> MainExecutor::shared() {
    std::lock_guard lock(executorMutex);
    if (!installedExecutor)
        installedExecutor = std::make_shared<ThreadMainExecutor>();
    return installedExecutor;
}

void MainExecutor::install(std::shared_ptr<MainExecutor> executor) {
    std::shared_ptr<MainExecutor> previous;
    {
        std::lock_guard lock(executorMutex);
        previous = std::exchange(installedExecutor, std::move(executor));
    }
    // previous is released outside the lock: its shutdown may run work that reaches shared().
}

} // namespace veltrace
