#pragma once

#include "platform/KeyTranslator.h"

#include <functional>

// Watches key-down events and hands each on as modifiers plus characters ignoring modifiers, through the
// process's one KeyTranslator. A global monitor sees the presses meant for every application; a local one
// only those delivered to this application, and it never consumes them.
// Thread-safety: GUI thread only; handlers run on the GUI thread.
class KeyMonitor {
  public:
    using Handler = std::function<void(const TranslatedKey&)>;

    virtual ~KeyMonitor() = default;

    // Starts delivering key-downs (modifier and lock keys alone are none). False when the platform
    // refuses; then nothing arrives.
    virtual bool start(Handler handler) = 0;
    virtual void stop() = 0;

    // Whether key presses go to this application's own windows right now, so that the local monitor sees
    // them too. May cost a round trip to the window system: ask only about presses that matter.
    virtual bool applicationHasKeyboardFocus() = 0;
};
