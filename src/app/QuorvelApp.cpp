#include "app/QuorvelApp.h"

#include "app/AboutDialog.h"
#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/InstanceChannel.h"
#include "highlight/CursorHighlightWindow.h"
#include "updates/CheckForUpdatesView.h"
#include "updates/SoftwareUpdater.h"
#include "updates/UpdateUserDriver.h"
#include "updates/UpdaterDelegate.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

QuorvelApp::QuorvelApp(CursorHighlightWindow& overlay, HighlightSettings& settings, QObject* parent)
    : QObject(parent), overlay_(overlay), settings_(settings) {
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(AboutDialog::applicationIcon()));
    // The updater starts with the application, before any window exists.
    updater_ = std::make_unique<SoftwareUpdater>(UpdaterDelegate::shared());
    updater_->start();
    mainWindow_ = std::make_unique<ContentView>(overlay_, settings_);
    buildMenu();
    overlay_.setOwnWindowTest([this](QPoint position) { return isOwnWindowAt(position); });
}

QuorvelApp::~QuorvelApp() {
    overlay_.setOwnWindowTest(nullptr);
}

void QuorvelApp::buildMenu() {
    applicationMenu_ = mainWindow_->menuBar()->addMenu(QStringLiteral("&Lumarex"));
    applicationMenu_->setObjectName("applicationMenu");
    QAction* about = applicationMenu_->addAction(QStringLiteral("About Quorvel"));
    about->setObjectName("aboutAction");
    about->setMenuRole(QAction::NoRole);
    connect(about, &QAction::triggered, this, &QuorvelApp::showAboutPanel);

    // Enabled exactly while the updater can check.
    auto* checkForUpdates = new CheckForUpdatesView(*updater_, this);
    checkForUpdatesAction_ = checkForUpdates->action();
    checkForUpdatesAction_->setObjectName("checkForUpdatesAction");
    applicationMenu_->addAction(checkForUpdatesAction_);

    applicationMenu_->addSeparator();
    QAction* quit = applicationMenu_->addAction(QStringLiteral("&Quit"));
    quit->setObjectName("quitAction");
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void QuorvelApp::setDelegate(AppDelegate* delegate) {
    if (delegate_)
        disconnect(qApp, &QCoreApplication::aboutToQuit, delegate_, nullptr);
    delegate_ = delegate;
    if (delegate_)
        connect(qApp, &QCoreApplication::aboutToQuit, delegate_, &AppDelegate::applicationWillTerminate);
}

void QuorvelApp::start() {
    mainWindow_->show();
    channel_ = std::make_unique<InstanceChannel>();
    channel_->listen([this](const QString& command) { return perform(command); });
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
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    } else if (command == u"quit") {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    } else {
        return false;
    }
    return true;
}

void QuorvelApp::showAboutPanel() {
    if (!aboutDialog_) {
        aboutDialog_ = new AboutDialog(mainWindow_.get());
        aboutDialog_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    aboutDialog_->show();
    aboutDialog_->raise();
}

bool QuorvelApp::isOwnWindowAt(QPoint devicePosition) const {
    // The pointer comes in device pixels, Qt's window geometry in its own (scaled) coordinates.
    const QPointF scaled = QPointF(devicePosition) / overlay_.deviceScale();
    QWidget* window = QApplication::topLevelAt(scaled.toPoint());
    return window && window->isVisible();
}
