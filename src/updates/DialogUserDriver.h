#pragma once

#include "UpdateUserDriver.h"

#include <QPointer>

class QMessageBox;

// Shows the outcome of a check in an application-modal message box that does not block the caller:
// "You're up to date!", a new version with "Download" and "Later", or the reason a check failed.
// "Download" opens the release's page in the browser. Thread-safety: GUI thread only.
class DialogUserDriver final : public UpdateUserDriver {
  public:
    DialogUserDriver() = default;
    ~DialogUserDriver() override;
    DialogUserDriver(const DialogUserDriver&) = delete;
    DialogUserDriver& operator=(const DialogUserDriver&) = delete;

    void showOutcome(const UpdateCheckOutcome& outcome) override;

    // The box on screen, if any (tests inspect and press it).
    QMessageBox* currentDialog() const;

  private:
    QPointer<QMessageBox> dialog_;
};
