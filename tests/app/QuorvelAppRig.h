#pragma once

// What the application object needs besides an overlay: the desktop's trust answer and key translator.

#include "highlight/OverlayFakes.h"
#include "platform/AccessibilityTrust.h"
#include "platform/x11/X11KeyTranslator.h"

namespace fakes {

// A desktop that grants no global shortcuts and never shows a prompt.
class NoTrust : public AccessibilityTrust {
  public:
    bool isTrusted() override { return false; }
    bool prompt(QWidget*) override { return false; }
};

struct QuorvelAppRig : FakeOverlayRig {
    NoTrust noTrust;
    X11KeyTranslator usKeyboard{"evdev", "pc105", "us"};
};

} // namespace fakes
