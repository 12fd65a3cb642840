#include "app/TrayIcon.h"

#include "app/ApplicationIcon.h"
#include "highlight/CursorHighlightWindow.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>

TrayIcon::TrayIcon(CursorHighlightWindow& overlay, Actions actions, std::function<void()> openSettings,
                   QObject* parent)
    : QObject(parent), overlay_(overlay), menu_(std::make_unique<QMenu>()),
      icon_(std::make_unique<QSystemTrayIcon>(ApplicationIcon::icon())) {
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

    icon_->setToolTip(QStringLiteral("Lumarex"));
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &TrayIcon::handleActivation);
}

TrayIcon::~TrayIcon() {
    icon_->hide();
}

void TrayIcon::show() {
    // On X11 the toolkit watches for a tray that starts later. Elsewhere it knows the desktop's tray (a
    // StatusNotifierItem host) only from its start, and an icon shown without one only brings its
    // complaints on standard error: a desktop without a tray (plain GNOME) gets no icon.
    if (QGuiApplication::platformName() != QLatin1String("xcb") && !QSystemTrayIcon::isSystemTrayAvailable())
        return;
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
