#pragma once

#include "platform/AccessibilityTrust.h"

#include <QPointer>
#include <QString>

class QMessageBox;
class X11Connection;

// Trust on X11: the process is trusted when the server lets it select XInput 2 raw key events on the
// root window (a client the server treats as untrusted is refused them). A file named by
// LUMAREX_TRUST_FILE whose content is "1" or "0" overrides the answer on every query, for diagnostics
// and tests. Thread-safety: GUI thread only.
class X11AccessibilityTrust : public AccessibilityTrust {
  public:
    static constexpr const char* overrideVariable = "LUMAREX_TRUST_FILE";

    // `connection` may be null (no display): then only the override file can grant trust.
    explicit X11AccessibilityTrust(X11Connection* connection);
    ~X11AccessibilityTrust() override;
    X11AccessibilityTrust(const X11AccessibilityTrust&) = delete;
    X11AccessibilityTrust& operator=(const X11AccessibilityTrust&) = delete;

    bool isTrusted() override;
    bool prompt(QWidget* parent = nullptr) override;

    // The dialog prompt() shows, while it is open.
    QMessageBox* promptDialog() const { return dialog_; }

    static QString promptTitle();
    static QString promptText();

  private:
    bool serverAllowsRawKeyEvents();

    X11Connection* connection_;
    bool serverTrusted_ = false;
    QPointer<QMessageBox> dialog_;
};
