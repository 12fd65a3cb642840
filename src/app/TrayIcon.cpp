#include "app/TrayIcon.h"

#include "app/ApplicationIcon.h"
#include "app/StatusNotifierHostMonitor.h"
#include "highlight/CursorHighlightWindow.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>

TrayIcon::TrayIcon(CursorHighlightWindow& overlay, Actions actions, std::function<void()> openSettings,
                   QObject* parent)
    : QObject(parent), overlay_(overlay), menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName("trayMenu");
    highlight_ = menu_->addAction(QStringLiteral("Highlight Cursor"));
    highlight_->setObjectName("trayHighlightAction");
    highlight_->setCheckable(true);
    highlight_->setChecked(overlay_.isVisible());
    // setChecked from the overlay's signal does not trigger, so this does not loop.
    connect(&overlay_, &CursorHighlightWindow::isVisibleChanged, highlight_, &QAction::setChecked);
    connect(highlight_, &QAction::triggered, this, [this](bool checked) {
        if (checked)
            overlay_.show();
        else
            overlay_.hide();
    });

    settings_ = menu_->addAction(QString::fromUtf8("Settings\u2026"));
    settings_->setObjectName("traySettingsAction");
    connect(settings_, &QAction::triggered, this, [openSettings = std::move(openSettings)] {
        if (openSettings)
            openSettings();
    });
    menu_->addSeparator();
    for (QAction* shared : {actions.checkForUpdates, actions.startAtLogin, actions.about})
        if (shared)
            menu_->addAction(shared);
    menu_->addSeparator();
    if (actions.quit)
        menu_->addAction(actions.quit);
}

TrayIcon::~TrayIcon() {
    if (icon_)
        icon_->hide();
}

void TrayIcon::show() {
    // On X11 the toolkit watches for a tray that starts later.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        makeIcon();
        return;
    }
    // Elsewhere the toolkit asks the session bus once, when the first tray icon is made (or the first
    // isSystemTrayAvailable), whether the desktop's tray is up, and keeps that answer for the process: an
    // icon made before the tray (autostart at login racing Plasma) would never show. So the icon is made
    // only once the tray is there; when the tray restarts later, the toolkit registers the icon again.
    if (!host_) {
        host_ = std::make_unique<StatusNotifierHostMonitor>(QDBusConnection::sessionBus());
        connect(host_.get(), &StatusNotifierHostMonitor::availableChanged, this, [this](bool available) {
            if (available)
                makeIcon();
        });
    }
    if (host_->isAvailable())
        makeIcon();
}

void TrayIcon::makeIcon() {
    if (icon_)
        return;
    icon_ = std::make_unique<QSystemTrayIcon>(ApplicationIcon::icon());
    icon_->setToolTip(QStringLiteral("Lumarex"));
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &TrayIcon::handleActivation);
    icon_->show();
}

void TrayIcon::handleActivation(QSystemTrayIcon::ActivationReason reason) {
    // Every left press toggles: the toolkit reports a second press soon after the first as a double
    // click, and a person clicking twice means twice.
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
        return;
    // By the overlay's own state, as the keyboard shortcut decides.
    if (overlay_.isVisible())
        overlay_.hide();
    else
        overlay_.show();
}
