#pragma once

#include "UpdateCheckOutcome.h"

// How the updater shows what a check found. The application's driver shows dialogs; tests record.
// Thread-safety: called on the GUI thread only.
class UpdateUserDriver {
  public:
    virtual ~UpdateUserDriver() = default;

    // Called exactly once per finished check.
    virtual void showOutcome(const UpdateCheckOutcome& outcome) = 0;
};
