#pragma once

#include <QColor>
#include <QColorDialog>
#include <QPointer>
#include <QWidget>

#include <functional>

class AccessibilityTrust;
class HighlightSettings;
class KeyTranslator;
class KeyboardShortcutRecorder;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class UsageReporting;

// The body of the main window: colour, opacity and size of the base and the click circle, the toggle
// shortcut recorder, a warning while the accessibility permission is missing, a reset button and the
// version, and last the switch for usage reports. Every control writes straight into the settings, which
// store each change at once; an open overlay observes the same settings and redraws by itself. Sets its
// window's title. With LUMAREX_TEST_GEOMETRY=1 in the environment it prints the screen geometry of its named
// controls once shown and again whenever the layout may have moved them (see reportGeometry), so
// whole-program tests can find them. Thread-safety: GUI thread only.
class SettingsView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool isAccessibilityEnabled READ isAccessibilityEnabled NOTIFY isAccessibilityEnabledChanged)
  public:
    static QString title() { return QStringLiteral("Cursor settings"); }
    static constexpr int accessibilityRecheckMs = 500;

    SettingsView(HighlightSettings& settings, AccessibilityTrust& trust, KeyTranslator& translator,
                 QWidget* parent = nullptr);

    bool isAccessibilityEnabled() const { return isAccessibilityEnabled_; }
    // Asks the platform whether the process is trusted, shows or hides the warning, and says so on
    // standard output.
    void refreshAccessibilityStatus();
    // "Grant permission": the platform's prompt, then a fresh look at the answer a moment later.
    void requestAccessibility();

    KeyboardShortcutRecorder* recorder() const { return recorder_; }
    // The colour picker while one is open.
    QColorDialog* colorDialog() const { return colorDialog_; }

    // "Version 1.2.3", or "Version Unknown" without a version.
    static QString versionText(const QString& version);

    // What the "Usage Reporting" section shows and switches; the section stays hidden until one is set.
    // `reporting` outlives the view. Each time the box shows a new answer, standard output says how it
    // looks ("Send anonymous usage reports: ticked", "… unticked", "… unticked, disabled").
    void setUsageReporting(UsageReporting* reporting);

    // Prints "geometry NAME x y w h" (global coordinates) for the window and each visible named control,
    // plus NAMEHandle for slider handles, then "geometry end".
    void reportGeometry() const;

  signals:
    void isAccessibilityEnabledChanged(bool enabled);

  protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

  private:
    QWidget* makeCircleSection(bool click);
    QWidget* makeShortcutSection(KeyTranslator& translator);
    QWidget* makeFooterSection();
    QWidget* makeUsageReportingSection();
    void showUsageReporting();
    void chooseUsageReporting(bool enabled);
    void openColorDialog(const QColor& current, std::function<void(const QColor&)> apply);
    void scheduleGeometryReport();

    HighlightSettings& settings_;
    AccessibilityTrust& trust_;
    bool isAccessibilityEnabled_ = false;
    KeyboardShortcutRecorder* recorder_ = nullptr;
    QWidget* accessibilityWarning_ = nullptr;
    // Says why changes are not saved, while that is so.
    QLabel* saveProblem_ = nullptr;
    QPointer<QColorDialog> colorDialog_;
    bool geometryReportPending_ = false;
    UsageReporting* usageReporting_ = nullptr;
    QFrame* usageSection_ = nullptr;
    QCheckBox* usageCheckBox_ = nullptr;
    QLabel* usageCaption_ = nullptr;
    QLabel* usageNotSaved_ = nullptr;
    // Numbers the user's choices: only the answer to the last one is shown, whatever order answers come in.
    int usageChoice_ = 0;
};
