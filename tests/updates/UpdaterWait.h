#pragma once

#include "updates/SoftwareUpdater.h"

#include <QEventLoop>
#include <QTimer>

// Runs the event loop until the updater is idle again (a check's outcome has been delivered), for
// at most `timeoutMs`. Returns whether it is idle.
inline bool waitUntilIdle(SoftwareUpdater& updater, int timeoutMs = 15000) {
    if (updater.canCheckForUpdates())
        return true;
    QEventLoop loop;
    QObject::connect(&updater, &SoftwareUpdater::canCheckForUpdatesChanged, &loop, [&loop](bool canCheck) {
        if (canCheck)
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return updater.canCheckForUpdates();
}
