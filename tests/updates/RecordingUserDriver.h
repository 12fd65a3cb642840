#pragma once

#include "updates/UpdateUserDriver.h"

#include <QList>

// Records every outcome the updater shows instead of showing it.
class RecordingUserDriver final : public UpdateUserDriver {
  public:
    void showOutcome(const UpdateCheckOutcome& outcome) override { outcomes.append(outcome); }

    QList<UpdateCheckOutcome> outcomes;
};
