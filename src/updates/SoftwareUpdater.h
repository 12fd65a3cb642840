#pragma once

#include "FeedFetcher.h"
#include "UpdateCheckOutcome.h"

#include <QObject>
#include <QString>

#include <memory>

class UpdateUserDriver;
class UpdaterDelegate;

// Checks the appcast feed on request: fetches it without blocking the event loop, compares the newest
// release with the running version and shows exactly one outcome through its user driver.
// `canCheckForUpdates` is false until start() and while a check runs.
// Thread-safety: GUI thread only.
class SoftwareUpdater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

  public:
    struct Options {
        FeedFetcher::Options fetch;
        QString currentVersion; // empty: QCoreApplication::applicationVersion() at each check

        // Defaults, with the CA bundle taken from LUMAREX_CA_BUNDLE when set.
        static Options fromEnvironment();
    };

    // A null driver means the dialogs of DialogUserDriver. The delegate must outlive the updater.
    explicit SoftwareUpdater(const UpdaterDelegate& delegate,
                             std::unique_ptr<UpdateUserDriver> userDriver = nullptr,
                             Options options = Options::fromEnvironment(), QObject* parent = nullptr);
    // Cancels a running check; its outcome is dropped.
    ~SoftwareUpdater() override;

    SoftwareUpdater(const SoftwareUpdater&) = delete;
    SoftwareUpdater& operator=(const SoftwareUpdater&) = delete;

    // Called once at launch: from then on checks may begin.
    void start();

    bool canCheckForUpdates() const { return canCheck_; }
    UpdateUserDriver& userDriver() const { return *userDriver_; }

  public slots:
    // Starts a user-initiated check; does nothing before start() or while a check runs.
    void checkForUpdates();

  signals:
    void canCheckForUpdatesChanged(bool canCheckForUpdates);

  private:
    void setCanCheck(bool value);
    void finishCheck(const FeedFetcher::Response& response);

    const UpdaterDelegate& delegate_;
    std::unique_ptr<UpdateUserDriver> userDriver_;
    const Options options_;
    bool started_ = false;
    bool checking_ = false;
    bool canCheck_ = false;
    QString checkedVersion_; // the running version the current check compares with
    FeedFetcher fetcher_;
};
