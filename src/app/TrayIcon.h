#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class CursorHighlightWindow;
class QAction;
class QMenu;
class StatusNotifierHostMonitor;

// The icon in the desktop's tray (where it has one): each left click toggles the highlight, and its menu
// has "Highlight Cursor" (checked while the overlay is visible, however it was switched), "Settings…",
// "Check for Updates…", "Start at Login", "About Quorvel" and "Quit". The last four are the application
// menu's own actions, so they are enabled and checked alike in both places. The toggles here drive the
// overlay directly, like the keyboard shortcut: only the toolbar button reports its presses.
// Thread-safety: GUI thread only.
class TrayIcon : public QObject {
    Q_OBJECT
  public:
    struct Actions {
        QAction* checkForUpdates = nullptr;
        QAction* startAtLogin = nullptr;
        QAction* about = nullptr;
        QAction* quit = nullptr;
    };

    TrayIcon(CursorHighlightWindow& overlay, Actions actions, std::function<void()> openSettings,
             QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon, in a tray that appears later too. On X11 the toolkit waits for the tray; elsewhere
    // the icon is made once the desktop's StatusNotifierItem tray is up, and a desktop without one gets
    // no icon.
    void show();

    // Null until the icon is made.
    QSystemTrayIcon* systemTrayIcon() const { return icon_.get(); }
    QMenu* menu() const { return menu_.get(); }
    QAction* highlightAction() const { return highlight_; }
    QAction* settingsAction() const { return settings_; }

    // What a click on the icon does.
    void handleActivation(QSystemTrayIcon::ActivationReason reason);

  private:
    void makeIcon();

    CursorHighlightWindow& overlay_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<StatusNotifierHostMonitor> host_;
    QAction* highlight_ = nullptr;
    QAction* settings_ = nullptr;
};
