#pragma once

#include "app/CommandSocket.h"

#include <QObject>

#include <memory>

class AboutDialog;
class AccessibilityTrust;
class AppDelegate;
class AutostartEntry;

class ContentView;
class CursorHighlightWindow;
class HighlightSettings;
class InstanceChannel;
class KeyTranslator;
class QAction;
class QMenu;
class SoftwareUpdater;
class TrayIcon;

// The application: builds the main window, the application menu and the tray icon, and answers the
// commands that other invocations of the program send. The process keeps running when the window is
// closed; it ends through Quit in the menu or the tray, or `lumarex --quit`. Thread-safety: GUI thread only.
class QuorvelApp : public QObject {
    Q_OBJECT
  public:
    // `trust` and `translator` come from the desktop backend and outlive this object. `autostart` is where
    // "Start at Login" keeps its entry (the user's autostart folder unless given).
    QuorvelApp(CursorHighlightWindow& overlay, HighlightSettings& settings, AccessibilityTrust& trust,
               KeyTranslator& translator, QObject* parent = nullptr);
    QuorvelApp(CursorHighlightWindow& overlay, HighlightSettings& settings, AccessibilityTrust& trust,
               KeyTranslator& translator, const AutostartEntry& autostart, QObject* parent = nullptr);
    ~QuorvelApp() override;

    // The delegate hears of the finished launch (at the end of start()) and of the coming termination.
    // It must outlive this object.
    void setDelegate(AppDelegate* delegate);

    // Opens the main window (unless `openWindow` is false: `--background`), shows the tray icon and
    // serves commands on `commandSocket` (none when it is null).
    void start(std::unique_ptr<CommandSocket> commandSocket = nullptr, bool openWindow = true);

    ContentView* mainWindow() const { return mainWindow_.get(); }
    QMenu* applicationMenu() const { return applicationMenu_; }
    QAction* checkForUpdatesAction() const { return checkForUpdatesAction_; }
    QAction* startAtLoginAction() const { return startAtLoginAction_; }
    TrayIcon& trayIcon() const { return *tray_; }
    const AutostartEntry& autostart() const { return *autostart_; }
    SoftwareUpdater& updater() const { return *updater_; }

    // Carries out one of the commands of the command line ("toggle", "show", "hide", "quit",
    // "settings", and "ping", which does nothing); false for anything else.
    bool perform(const QString& command);

    void showAboutPanel();
    void showSettingsWindow();

    // Reads the autostart entry again and sets "Start at Login" from it.
    void refreshStartAtLogin();
    // What choosing "Start at Login" does; a failure is shown in a message box and on standard error.
    void setStartAtLogin(bool enabled);

  private:
    void buildMenu();
    void buildTray();
    bool isOwnWindowAt(QPoint position) const;

    CursorHighlightWindow& overlay_;
    HighlightSettings& settings_;
    std::unique_ptr<SoftwareUpdater> updater_;
    std::unique_ptr<ContentView> mainWindow_;
    std::unique_ptr<InstanceChannel> channel_;
    QMenu* applicationMenu_ = nullptr;
    QAction* checkForUpdatesAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* startAtLoginAction_ = nullptr;
    std::unique_ptr<AutostartEntry> autostart_;
    QString lastAutostartProblem_;
    std::unique_ptr<TrayIcon> tray_;
    AboutDialog* aboutDialog_ = nullptr;
    AppDelegate* delegate_ = nullptr;
};
