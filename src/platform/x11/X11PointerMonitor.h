#pragma once

#include "platform/PointerMonitor.h"

#include <QObject>

class X11Connection;
class X11PointerTracker;

// Pointer monitor over XInput 2 raw events selected on the root window: raw events reach us whichever
// client has the pointer or a grab. With a running pointer tracker, presses are read on its thread and
// handed to the GUI thread as queued calls; otherwise they, like motion, are read on our own connection.
// Thread-safety: GUI thread only; handlers run on the GUI thread.
class X11PointerMonitor : public PointerMonitor {
  public:
    explicit X11PointerMonitor(X11Connection& connection, X11PointerTracker* tracker = nullptr);
    ~X11PointerMonitor() override;
    X11PointerMonitor(const X11PointerMonitor&) = delete;
    X11PointerMonitor& operator=(const X11PointerMonitor&) = delete;

    bool startWatchingPresses(std::function<void()> onLeftPress) override;
    void stopWatchingPresses() override;
    bool watchNextMotion(std::function<void()> onMotion) override;
    void cancelMotionWatch() override;
    std::optional<QPoint> position() override;

  private:
    void handleEvent(union _XEvent& event);
    void selectEvents();

    X11Connection& connection_;
    X11PointerTracker* tracker_;
    // Receives the tracker's presses on the GUI thread; queued calls die with it.
    QObject guiThread_;
    bool pressesOnTracker_ = false;
    int handlerId_ = 0;
    std::function<void()> onLeftPress_;
    std::function<void()> onMotion_;
};
