#include "app/QuorvelApp.h"

#include "app/AboutDialog.h"
#include "app/AppDelegate.h"
#include "app/ApplicationIcon.h"
#include "app/AutostartEntry.h"
#include "app/CommandSocket.h"
#include "app/ContentView.h"
#include "app/InstanceChannel.h"
#include "app/TrayIcon.h"
#include "highlight/CursorHighlightWindow.h"
#include "lumarex/Product.h"
#include "settings/SettingsView.h"
#include "updates/CheckForUpdatesView.h"
#include "updates/SoftwareUpdater.h"
#include "updates/UpdateUserDriver.h"
#include "updates/UpdaterDelegate.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include <cstdio>

QuorvelApp::QuorvelApp(CursorHighlightWindow& overlay, HighlightSettings& settings, AccessibilityTrust& trust,
                       KeyTranslator& translator, QObject* parent)
    : QuorvelApp(overlay, settings, trust, translator, AutostartEntry(), parent) {}

QuorvelApp::QuorvelApp(CursorHighlightWindow& overlay, HighlightSettings& settings, AccessibilityTrust& trust,
                       KeyTranslator& translator, const AutostartEntry& autostart, QObject* parent)
    : QObject(parent), overlay_(overlay), settings_(settings),
      autostart_(std::make_unique<AutostartEntry>(autostart)) {
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ApplicationIcon::icon());
    QGuiApplication::setDesktopFileName(QString::fromLatin1(product::appId));
    // The updater starts with the application, before any window exists.
    updater_ = std::make_unique<SoftwareUpdater>(UpdaterDelegate::shared());
    updater_->start();
    mainWindow_ = std::make_unique<ContentView>(overlay_, settings_, trust, translator);
    buildMenu();
    buildTray();
    refreshStartAtLogin();
    overlay_.setOwnWindowTest([this](QPoint position) { return isOwnWindowAt(position); });
}

QuorvelApp::~QuorvelApp() {
    overlay_.setOwnWindowTest(nullptr);
}

void QuorvelApp::buildMenu() {
    applicationMenu_ = mainWindow_->menuBar()->addMenu(QStringLiteral("&Lumarex"));
    applicationMenu_->setObjectName("applicationMenu");
    aboutAction_ =
        applicationMenu_->addAction(QStringLiteral("About %1").arg(QString::fromUtf8(product::maker)));
    aboutAction_->setObjectName("aboutAction");
    aboutAction_->setMenuRole(QAction::NoRole);
    connect(aboutAction_, &QAction::triggered, this, &QuorvelApp::showAboutPanel);

    // Enabled exactly while the updater can check.
    auto* checkForUpdates = new CheckForUpdatesView(*updater_, this);
    checkForUpdatesAction_ = checkForUpdates->action();
    checkForUpdatesAction_->setObjectName("checkForUpdatesAction");
    applicationMenu_->addAction(checkForUpdatesAction_);

    applicationMenu_->addSeparator();
    startAtLoginAction_ = applicationMenu_->addAction(QStringLiteral("Start at Login"));
    startAtLoginAction_->setObjectName("startAtLoginAction");
    startAtLoginAction_->setCheckable(true);
    connect(startAtLoginAction_, &QAction::triggered, this, &QuorvelApp::setStartAtLogin);
    // The file is the truth: read again whenever a menu that shows the item opens.
    connect(applicationMenu_, &QMenu::aboutToShow, this, &QuorvelApp::refreshStartAtLogin);

    applicationMenu_->addSeparator();
    quitAction_ = applicationMenu_->addAction(QStringLiteral("&Quit"));
    quitAction_->setObjectName("quitAction");
    quitAction_->setShortcut(QKeySequence::Quit);
    quitAction_->setMenuRole(QAction::QuitRole);
    connect(quitAction_, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void QuorvelApp::buildTray() {
    TrayIcon::Actions actions;
    actions.checkForUpdates = checkForUpdatesAction_;
    actions.startAtLogin = startAtLoginAction_;
    actions.about = aboutAction_;
    actions.quit = quitAction_;
    tray_ = std::make_unique<TrayIcon>(overlay_, actions, [this] { showSettingsWindow(); });
    connect(tray_->menu(), &QMenu::aboutToShow, this, &QuorvelApp::refreshStartAtLogin);
}

void QuorvelApp::refreshStartAtLogin() {
    const AutostartEntry::State state = autostart_->read();
    startAtLoginAction_->setChecked(state.enabled);
    // A broken file is reported once, not at every opening of the menu.
    if (state.problem != lastAutostartProblem_ && !state.problem.isEmpty())
        std::fprintf(stderr, "lumarex: Start at Login is off: %s\n", qPrintable(state.problem));
    lastAutostartProblem_ = state.problem;
}

void QuorvelApp::setStartAtLogin(bool enabled) {
    QString error;
    if (!autostart_->setEnabled(enabled, &error)) {
        std::fprintf(stderr, "lumarex: Start at Login: %s\n", qPrintable(error));
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Start at Login"),
                                    enabled ? QStringLiteral("Lumarex could not turn on Start at Login.")
                                            : QStringLiteral("Lumarex could not turn off Start at Login."),
                                    QMessageBox::Ok, mainWindow_->isVisible() ? mainWindow_.get() : nullptr);
        box->setObjectName("startAtLoginError");
        box->setInformativeText(error);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
    }
    refreshStartAtLogin();
}

void QuorvelApp::setDelegate(AppDelegate* delegate) {
    if (delegate_) {
        disconnect(qApp, &QCoreApplication::aboutToQuit, delegate_, nullptr);
        disconnect(delegate_, &AppDelegate::trustChanged, this, nullptr);
    }
    delegate_ = delegate;
    if (delegate_) {
        connect(qApp, &QCoreApplication::aboutToQuit, delegate_, &AppDelegate::applicationWillTerminate);
        // The warning in the settings window follows the poll, so it goes once the grant arrives.
        connect(delegate_, &AppDelegate::trustChanged, this,
                [this] { mainWindow_->settingsView()->refreshAccessibilityStatus(); });
    }
}

void QuorvelApp::start(std::unique_ptr<CommandSocket> commandSocket, bool openWindow) {
    if (openWindow)
        mainWindow_->show();
    tray_->show();
    channel_ = std::make_unique<InstanceChannel>(std::move(commandSocket),
                                                 [this](const QString& command) { return perform(command); });
    if (delegate_)
        delegate_->applicationDidFinishLaunching();
}

bool QuorvelApp::perform(const QString& command) {
    if (command == u"toggle") {
        // The same decision the keyboard shortcut makes: by the overlay's own state.
        if (overlay_.isVisible())
            overlay_.hide();
        else
            overlay_.show();
    } else if (command == u"show") {
        overlay_.show();
    } else if (command == u"hide") {
        overlay_.hide();
    } else if (command == u"settings") {
        showSettingsWindow();
    } else if (command == u"quit") {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    } else if (command != u"ping") {
        return false;
    }
    return true;
}

void QuorvelApp::showSettingsWindow() {
    mainWindow_->setWindowState(mainWindow_->windowState() & ~Qt::WindowMinimized);
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
}

void QuorvelApp::showAboutPanel() {
    if (!aboutDialog_) {
        aboutDialog_ = new AboutDialog(mainWindow_.get());
        aboutDialog_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    aboutDialog_->show();
    aboutDialog_->raise();
}

bool QuorvelApp::isOwnWindowAt(QPoint position) const {
    QWidget* window = QApplication::topLevelAt(position);
    return window && window->isVisible();
}
