#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class AccessibilityTrust;
class CursorHighlightWindow;
class DesktopPlatform;
class HighlightSettings;
class KeyMonitor;
class QSettings;
class QTimer;
struct TranslatedKey;

// The application's delegate: at launch it records whether global shortcuts are possible, watches that
// once a second and offers a restart when they become possible, and installs the key monitors that
// toggle the highlight; at termination it removes them again. The platform pieces come in through
// Platform, so tests can drive every path with fakes. Thread-safety: GUI thread only (the relaunch's
// start runs on a pool thread and touches no state of the delegate).
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    // What the restart alert returns: its first button is 1000, its second 1001.
    static constexpr int restartNowResult = 1000;
    static constexpr int laterResult = 1001;
    static constexpr const char* grantedKey = "accessibilityGranted";

    using MonitorFactory = std::function<std::unique_ptr<KeyMonitor>()>;

    struct Platform {
        AccessibilityTrust* trust = nullptr;
        // Each returns an installed-to-be monitor, or null when the platform has none.
        MonitorFactory makeGlobalMonitor;
        MonitorFactory makeLocalMonitor;
        // Shows the "Restart Required" alert modally and returns the button's result.
        std::function<int()> runRestartAlert;
        // Opens a new copy of the program; called on a pool thread. The error's description, or an empty
        // text when the copy started.
        std::function<QString()> openNewCopy;
        // Orderly termination, through the normal quit path.
        std::function<void()> terminate;
        // Reports "app launched" to the analytics facade. Unset, the launch goes unreported.
        std::function<void()> reportLaunch;
        std::chrono::milliseconds pollInterval{1000};
        std::chrono::milliseconds restartDelay{500};
        std::chrono::milliseconds terminateDelay{1000};
    };

    // The real thing: the desktop backend's trust answer and global monitor, the application's event
    // filter over the backend's key translator, a message box, a detached start of this executable with
    // --replace (so it takes the command socket instead of handing over to this copy), and
    // QCoreApplication::quit. Needs the application object; `desktop` must outlive what it returns.
    static Platform standardPlatform(DesktopPlatform& desktop);
    // Starts `program` detached with `arguments`; the error's description or an empty text.
    static QString startDetached(const QString& program, const QStringList& arguments = {});
    static QString restartAlertText();
    static QString restartAlertInformativeText();

    // The trust flag is kept in the settings file of `settings` (the application's one INI file).
    AppDelegate(HighlightSettings& settings, CursorHighlightWindow& overlay, Platform platform,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // One tick of the trust poll; the timer calls it.
    void checkAccessibility();
    // A key-down from either monitor; toggles the overlay two event-loop turns later when it is the
    // stored shortcut.
    void handleKeyEvent(const TranslatedKey& key);
    void toggleHighlight();

    // For tests and diagnostics.
    bool isPolling() const;
    bool hasPollTimer() const { return accessibilityCheckTimer_ != nullptr; }
    KeyMonitor* globalShortcutMonitor() const { return globalShortcutMonitor_.get(); }
    KeyMonitor* localShortcutMonitor() const { return localShortcutMonitor_.get(); }
    bool storedGrant() const;

  signals:
    // The poll saw the answer change (the first tick compares with the launch's answer).
    void trustChanged(bool trusted);

  private:
    void showRestartAlert();
    void restartApp();
    void handleGlobalKeyEvent(const TranslatedKey& key);

    HighlightSettings& settings_;
    CursorHighlightWindow& overlay_;
    Platform platform_;
    std::unique_ptr<KeyMonitor> globalShortcutMonitor_;
    std::unique_ptr<KeyMonitor> localShortcutMonitor_;
    std::unique_ptr<QTimer> accessibilityCheckTimer_;
    std::unique_ptr<QSettings> defaults_;
    // A toolkit timer also fires inside a modal loop; this keeps the poll quiet while the alert is open.
    bool alertOpen_ = false;
    bool lastTrusted_ = false;
};
