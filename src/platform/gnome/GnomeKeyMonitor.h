#pragma once

#include "platform/KeyMonitor.h"

#include <QMetaObject>

class GnomeShellExtension;

// On GNOME the Shell owns global keys: the extension binds the toggle shortcut's accelerator and says
// when it is pressed. This monitor hands each such press on as the key press the recorded shortcut text
// describes, so the shortcut matcher sees what it sees elsewhere. It sees no other keys.
// Thread-safety: GUI thread only.
class GnomeKeyMonitor : public KeyMonitor {
  public:
    explicit GnomeKeyMonitor(GnomeShellExtension& extension);
    ~GnomeKeyMonitor() override;
    GnomeKeyMonitor(const GnomeKeyMonitor&) = delete;
    GnomeKeyMonitor& operator=(const GnomeKeyMonitor&) = delete;

    bool start(Handler handler) override;
    void stop() override;
    // A bound accelerator never reaches the application's windows, so no press is seen twice.
    bool applicationHasKeyboardFocus() override { return false; }

  private:
    GnomeShellExtension& extension_;
    QMetaObject::Connection connection_;
};
