#pragma once

#include <QObject>

#include <memory>

class AboutDialog;
class AppDelegate;
class ContentView;
class CursorHighlightWindow;
class HighlightSettings;
class InstanceChannel;
class QAction;
class QMenu;
class SoftwareUpdater;

// The application: builds the main window and the application menu, and answers the commands that
// other invocations of the program send. The process keeps running when the window is closed; it
// ends through Quit in the menu or `lumarex --quit`. Thread-safety: GUI thread only.
class QuorvelApp : public QObject {
    Q_OBJECT
public:
    QuorvelApp(CursorHighlightWindow& overlay, HighlightSettings& settings, QObject* parent = nullptr);
    ~QuorvelApp() override;

    // The delegate hears of the finished launch (at the end of start()) and of the coming termination.
    // It must outlive this object.
    void setDelegate(AppDelegate* delegate);

    // Opens the main window and starts listening for commands.
    void start();

    ContentView* mainWindow() const { return mainWindow_.get(); }
    QMenu* applicationMenu() const { return applicationMenu_; }
    QAction* checkForUpdatesAction() const { return checkForUpdatesAction_; }
    SoftwareUpdater& updater() const { return *updater_; }

    // Carries out one of the commands of the command line ("toggle", "show", "hide", "quit",
    // "settings"); false for anything else.
    bool perform(const QString& command);

    void showAboutPanel();

private:
    void buildMenu();
    bool isOwnWindowAt(QPoint devicePosition) const;

    CursorHighlightWindow& overlay_;
    HighlightSettings& settings_;
    std::unique_ptr<SoftwareUpdater> updater_;
    std::unique_ptr<ContentView> mainWindow_;
    std::unique_ptr<InstanceChannel> channel_;
    QMenu* applicationMenu_ = nullptr;
    QAction* checkForUpdatesAction_ = nullptr;
    AboutDialog* aboutDialog_ = nullptr;
    AppDelegate* delegate_ = nullptr;
};
