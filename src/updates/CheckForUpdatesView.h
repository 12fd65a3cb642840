#pragma once

#include <QObject>
#include <QPointer>

class CheckForUpdatesViewModel;
class QAction;
class SoftwareUpdater;

// The application menu's "Check for Updates…" item: enabled exactly while the updater can check;
// triggering it starts a check. Thread-safety: GUI thread only.
class CheckForUpdatesView : public QObject {
    Q_OBJECT

  public:
    CheckForUpdatesView(SoftwareUpdater& updater, QObject* parent);

    QAction* action() const { return action_; }
    CheckForUpdatesViewModel* checkForUpdatesViewModel() const { return viewModel_; }

  private:
    CheckForUpdatesViewModel* viewModel_;
    QPointer<SoftwareUpdater> updater_;
    QAction* action_;
};
