#pragma once

#include <QString>

class QWidget;

// Whether the process may watch input meant for other applications: the keyboard shortcut needs that
// to work while another application is active. Thread-safety: GUI thread only.
class AccessibilityTrust {
  public:
    virtual ~AccessibilityTrust() = default;

    // Asks the platform now, on every call; never shows anything to the user.
    virtual bool isTrusted() = 0;

    // The same answer, but when the process is not trusted the user is told what global shortcuts need
    // (without blocking: the dialog stays open while the caller goes on).
    virtual bool prompt(QWidget* parent = nullptr) = 0;

    // What the settings window's warning says while the process is not trusted, and its button's title.
    struct Wording {
        QString headline = QStringLiteral("Accessibility");
        QString title = QStringLiteral("Grant accessibility permissions");
        QString caption = QStringLiteral("Only required for keyboard shortcuts");
        QString button = QStringLiteral("Grant permission");
    };
    virtual Wording wording() const { return {}; }

    // Whether monitors installed before the grant keep missing events until the program starts again.
    virtual bool grantNeedsRestart() const { return true; }
};
