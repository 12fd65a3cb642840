#include "CheckForUpdatesViewModel.h"

#include "SoftwareUpdater.h"

CheckForUpdatesViewModel::CheckForUpdatesViewModel(SoftwareUpdater& updater, QObject* parent)
    : QObject(parent) {
    connect(&updater, &SoftwareUpdater::canCheckForUpdatesChanged, this,
            &CheckForUpdatesViewModel::setCanCheckForUpdates);
    setCanCheckForUpdates(updater.canCheckForUpdates());
}

void CheckForUpdatesViewModel::setCanCheckForUpdates(bool value) {
    if (canCheckForUpdates_ == value)
        return;
    canCheckForUpdates_ = value;
    emit canCheckForUpdatesChanged(value);
}
