#pragma once

#include "platform/PointerMonitor.h"

class X11Connection;

// Pointer monitor over XInput 2 raw events selected on the root window of our own connection: raw
// events reach us whichever client has the pointer or a grab. Thread-safety: GUI thread only.
class X11PointerMonitor : public PointerMonitor {
public:
    explicit X11PointerMonitor(X11Connection& connection);
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
    int handlerId_ = 0;
    std::function<void()> onLeftPress_;
    std::function<void()> onMotion_;
};
