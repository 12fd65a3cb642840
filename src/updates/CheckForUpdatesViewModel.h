#pragma once

#include <QObject>

class SoftwareUpdater;

// Mirrors the updater's `canCheckForUpdates`: false at first, then the updater's current value at
// once and every change after it. The subscription ends with whichever of the two goes first.
// Thread-safety: GUI thread only.
class CheckForUpdatesViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

  public:
    explicit CheckForUpdatesViewModel(SoftwareUpdater& updater, QObject* parent = nullptr);

    bool canCheckForUpdates() const { return canCheckForUpdates_; }

  signals:
    void canCheckForUpdatesChanged(bool canCheckForUpdates);

  private:
    void setCanCheckForUpdates(bool value);

    bool canCheckForUpdates_ = false;
};
