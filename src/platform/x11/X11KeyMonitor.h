#pragma once

#include "platform/KeyMonitor.h"

#include <vector>

class X11Connection;
union _XEvent;

// Global key monitor over XInput 2 raw key presses selected on the root window of our own connection:
// raw events reach us whichever client has the focus or a grab. Raw events carry no modifier state; the
// translator keeps the keyboard's current modifiers from XKB state events on the same connection, which
// the server sends before the raw press of the next key, so a press costs no round trip.
// Thread-safety: GUI thread only.
class X11KeyMonitor : public KeyMonitor {
  public:
    X11KeyMonitor(X11Connection& connection, const KeyTranslator& translator);
    ~X11KeyMonitor() override;
    X11KeyMonitor(const X11KeyMonitor&) = delete;
    X11KeyMonitor& operator=(const X11KeyMonitor&) = delete;

    bool start(Handler handler) override;
    void stop() override;
    // Asks the server for the input focus and looks for it among this process's toolkit windows.
    bool applicationHasKeyboardFocus() override;

  private:
    void handleEvent(_XEvent& event);
    void select(bool on);

    X11Connection& connection_;
    const KeyTranslator& translator_;
    int handlerId_ = 0;
    Handler handler_;
    // The master keyboards we selected raw presses for. Each press reaches us once per device it passes
    // through, so only these copies count.
    std::vector<int> keyboards_;
};
