#include "app/AppDelegate.h"

#include "app/ShortcutMatcher.h"
#include "highlight/CursorHighlightWindow.h"
#include "highlight/HighlightSettings.h"
#include "platform/AccessibilityTrust.h"
#include "platform/ApplicationKeyMonitor.h"
#include "platform/DesktopPlatform.h"
#include "platform/KeyMonitor.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>

AppDelegate::Platform AppDelegate::standardPlatform(DesktopPlatform& desktop) {
    Platform platform;
    platform.trust = &desktop.trust();
    platform.makeGlobalMonitor = [&desktop] { return desktop.makeGlobalKeyMonitor(); };
    platform.makeLocalMonitor = [&desktop]() -> std::unique_ptr<KeyMonitor> {
        return std::make_unique<ApplicationKeyMonitor>(desktop.keyTranslator());
    };
    platform.runRestartAlert = [] {
        QMessageBox alert(QMessageBox::Information, QStringLiteral("Restart Required"), restartAlertText());
        alert.setObjectName("restartAlert");
        alert.setInformativeText(restartAlertInformativeText());
        QPushButton* restartNow = alert.addButton(QStringLiteral("Restart Now"), QMessageBox::AcceptRole);
        QPushButton* later = alert.addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        alert.setDefaultButton(restartNow);
        alert.setEscapeButton(later);
        alert.exec();
        if (alert.clickedButton() == restartNow)
            return restartNowResult;
        if (alert.clickedButton() == later)
            return laterResult;
        return 0;
    };
    // Read on the GUI thread: the pool thread only starts it.
    const QString program = QCoreApplication::applicationFilePath();
    // The new copy must not hand over to this one, which quits a second later.
    platform.openNewCopy = [program] { return startDetached(program, {QStringLiteral("--replace")}); };
    platform.terminate = [] { QCoreApplication::quit(); };
    return platform;
}

QString AppDelegate::startDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (process.startDetached())
        return {};
    return process.errorString();
}

QString AppDelegate::restartAlertText() {
    return QStringLiteral("Restart Required");
}

QString AppDelegate::restartAlertInformativeText() {
    return QStringLiteral("Accessibility permissions have been granted. The app needs to restart to enable "
                          "keyboard shortcuts. Would you like to restart now?");
}

AppDelegate::AppDelegate(HighlightSettings& settings, CursorHighlightWindow& overlay, Platform platform,
                         QObject* parent)
    : QObject(parent), settings_(settings), overlay_(overlay), platform_(std::move(platform)),
      defaults_(std::make_unique<QSettings>(settings.fileName(), QSettings::IniFormat)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    // The launch is reported before anything else looks at the system.
    if (platform_.reportLaunch)
        platform_.reportLaunch();

    // Overwritten at every launch, so a value left by an earlier run never suppresses the alert.
    const bool trusted = platform_.trust && platform_.trust->isTrusted();
    defaults_->setValue(grantedKey, trusted);
    defaults_->sync();
    lastTrusted_ = trusted;

    accessibilityCheckTimer_ = std::make_unique<QTimer>();
    accessibilityCheckTimer_->setTimerType(Qt::PreciseTimer);
    accessibilityCheckTimer_->setInterval(platform_.pollInterval);
    connect(accessibilityCheckTimer_.get(), &QTimer::timeout, this, &AppDelegate::checkAccessibility);
    accessibilityCheckTimer_->start();

    // Global first, then local; a monitor that cannot be installed leaves its field empty.
    if (platform_.makeGlobalMonitor) {
        globalShortcutMonitor_ = platform_.makeGlobalMonitor();
        QPointer<AppDelegate> self(this);
        if (globalShortcutMonitor_ && !globalShortcutMonitor_->start([self](const TranslatedKey& key) {
                if (self)
                    self->handleGlobalKeyEvent(key);
            }))
            globalShortcutMonitor_.reset();
    }
    if (platform_.makeLocalMonitor) {
        localShortcutMonitor_ = platform_.makeLocalMonitor();
        QPointer<AppDelegate> self(this);
        if (localShortcutMonitor_ && !localShortcutMonitor_->start([self](const TranslatedKey& key) {
                if (self)
                    self->handleKeyEvent(key);
            }))
            localShortcutMonitor_.reset();
    }
}

void AppDelegate::applicationWillTerminate() {
    if (globalShortcutMonitor_)
        globalShortcutMonitor_->stop();
    if (localShortcutMonitor_)
        localShortcutMonitor_->stop();
    if (accessibilityCheckTimer_) {
        accessibilityCheckTimer_->stop();
        accessibilityCheckTimer_.reset();
    }
}

void AppDelegate::checkAccessibility() {
    if (alertOpen_)
        return;
    const bool trusted = platform_.trust && platform_.trust->isTrusted();
    const bool stored = storedGrant();
    if (trusted != lastTrusted_) {
        lastTrusted_ = trusted;
        emit trustChanged(trusted);
    }
    if (trusted) {
        // The alert shows on the tick that first sees the grant, and on no other; a platform whose
        // monitors work from then on needs none.
        if (!stored && platform_.trust->grantNeedsRestart())
            showRestartAlert();
    }
    // Written only when it changes: the same value every second would rewrite the settings file
    // (and wake the disk) for nothing.
    if (trusted != storedGrant() || !defaults_->contains(grantedKey))
        defaults_->setValue(grantedKey, trusted);
}

bool AppDelegate::storedGrant() const {
    return defaults_->value(grantedKey, false).toBool();
}

bool AppDelegate::isPolling() const {
    return accessibilityCheckTimer_ && accessibilityCheckTimer_->isActive();
}

void AppDelegate::showRestartAlert() {
    if (!platform_.runRestartAlert)
        return;
    alertOpen_ = true;
    const int result = platform_.runRestartAlert();
    alertOpen_ = false;
    if (result == restartNowResult) {
        QTimer::singleShot(platform_.restartDelay, Qt::PreciseTimer, this, &AppDelegate::restartApp);
    } else if (result == laterResult) {
        // Polling ends for this run; the field keeps the stopped timer.
        if (accessibilityCheckTimer_)
            accessibilityCheckTimer_->stop();
    }
}

void AppDelegate::restartApp() {
    if (!platform_.openNewCopy)
        return;
    // The start may block for a while (a slow disk, a busy system), so it runs on a pool thread; only
    // the termination comes back to the GUI thread.
    QThreadPool::globalInstance()->start(
        [open = platform_.openNewCopy, terminate = platform_.terminate, delay = platform_.terminateDelay] {
            const QString error = open();
            if (!error.isEmpty()) {
                std::printf("Failed to restart app: %s\n", error.toLocal8Bit().constData());
                std::fflush(stdout);
                return;
            }
            QObject* application = QCoreApplication::instance();
            if (!application || !terminate)
                return;
            QMetaObject::invokeMethod(
                application,
                [application, terminate, delay] {
                    QTimer::singleShot(delay, Qt::PreciseTimer, application, terminate);
                },
                Qt::QueuedConnection);
        });
}

void AppDelegate::handleGlobalKeyEvent(const TranslatedKey& key) {
    // While our own window has the keyboard the local monitor sees the press too; one toggle is enough.
    // Only a matching press pays for the question.
    if (!ShortcutMatcher::matchesShortcut(key, settings_.toggleShortcut()))
        return;
    if (globalShortcutMonitor_ && globalShortcutMonitor_->applicationHasKeyboardFocus())
        return;
    handleKeyEvent(key);
}

void AppDelegate::handleKeyEvent(const TranslatedKey& key) {
    if (!ShortcutMatcher::matchesShortcut(key, settings_.toggleShortcut()))
        return;
    QMetaObject::invokeMethod(this, &AppDelegate::toggleHighlight, Qt::QueuedConnection);
}

void AppDelegate::toggleHighlight() {
    QMetaObject::invokeMethod(
        &overlay_,
        [overlay = &overlay_] {
            if (overlay->isVisible())
                overlay->hide();
            else
                overlay->show();
        },
        Qt::QueuedConnection);
}
