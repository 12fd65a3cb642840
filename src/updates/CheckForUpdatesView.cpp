#include "CheckForUpdatesView.h"

#include "CheckForUpdatesViewModel.h"
#include "SoftwareUpdater.h"

#include <QAction>

CheckForUpdatesView::CheckForUpdatesView(SoftwareUpdater& updater, QObject* parent)
    : QObject(parent), viewModel_(new CheckForUpdatesViewModel(updater, this)), updater_(&updater),
      action_(new QAction(QStringLiteral("Check for Updates\u2026"), this)) {
    // Keep the item where the menu puts it rather than letting a platform menu bar move it.
    action_->setMenuRole(QAction::NoRole);
    action_->setEnabled(viewModel_->canCheckForUpdates());
    connect(viewModel_, &CheckForUpdatesViewModel::canCheckForUpdatesChanged, action_, &QAction::setEnabled);
    connect(action_, &QAction::triggered, this, [this] {
        if (updater_)
            updater_->checkForUpdates();
    });
}
