#pragma once

#include "platform/KeyMonitor.h"

#include <QMetaObject>

class KGlobalAccelShortcut;

// On Plasma the global-shortcut service owns global keys: it binds the toggle shortcut and says when it
// is pressed. This monitor hands each such press on as the key press the recorded shortcut text
// describes, so the shortcut matcher sees what it sees elsewhere. It sees no other keys.
// Thread-safety: GUI thread only.
class KdeKeyMonitor : public KeyMonitor {
  public:
    explicit KdeKeyMonitor(KGlobalAccelShortcut& shortcut);
    ~KdeKeyMonitor() override;
    KdeKeyMonitor(const KdeKeyMonitor&) = delete;
    KdeKeyMonitor& operator=(const KdeKeyMonitor&) = delete;

    bool start(Handler handler) override;
    void stop() override;
    // A bound global shortcut never reaches the application's windows, so no press is seen twice.
    bool applicationHasKeyboardFocus() override { return false; }

  private:
    KGlobalAccelShortcut& shortcut_;
    QMetaObject::Connection connection_;
};
