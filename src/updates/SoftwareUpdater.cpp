#include "SoftwareUpdater.h"

#include "DialogUserDriver.h"
#include "UpdaterDelegate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QUrl>

SoftwareUpdater::Options SoftwareUpdater::Options::fromEnvironment() {
    Options options;
    options.fetch.caBundlePath = qEnvironmentVariable("LUMAREX_CA_BUNDLE");
    return options;
}

SoftwareUpdater::SoftwareUpdater(const UpdaterDelegate& delegate,
                                 std::unique_ptr<UpdateUserDriver> userDriver, Options options,
                                 QObject* parent)
    : QObject(parent), delegate_(delegate),
      userDriver_(userDriver ? std::move(userDriver) : std::make_unique<DialogUserDriver>()),
      options_(std::move(options)) {}

SoftwareUpdater::~SoftwareUpdater() {
    cancel_ = true;
    joinWorker();
    // An outcome the worker queued just before finishing is discarded with this object's posted events.
}

void SoftwareUpdater::start() {
    if (started_)
        return;
    started_ = true;
    setCanCheck(!checking_);
}

void SoftwareUpdater::checkForUpdates() {
    if (!started_ || checking_)
        return;
    checking_ = true;
    setCanCheck(false);
    joinWorker(); // the previous check's thread has already delivered its outcome

    const QUrl feedUrl(delegate_.feedURLStringForUpdater(this), QUrl::StrictMode);
    const QString currentVersion =
        options_.currentVersion.isEmpty() ? QCoreApplication::applicationVersion() : options_.currentVersion;
    FeedFetcher::Options fetchOptions = options_.fetch;
    if (fetchOptions.userAgent.isEmpty())
        fetchOptions.userAgent = QCoreApplication::applicationName() + u'/' + currentVersion;

    cancel_ = false;
    worker_ = std::thread([this, feedUrl, currentVersion, fetchOptions] {
        const FeedFetcher::Response response = FeedFetcher::fetch(feedUrl, fetchOptions, cancel_);
        const UpdateCheckOutcome outcome =
            response.ok ? UpdateCheckOutcome::fromFeed(response.body, response.finalUrl, currentVersion)
                        : UpdateCheckOutcome::failed(response.error, currentVersion);
        // Queued to this object: if it is destroyed first, the event is dropped with it.
        QMetaObject::invokeMethod(
            this, [this, outcome] { finishCheck(outcome); }, Qt::QueuedConnection);
    });
}

void SoftwareUpdater::finishCheck(const UpdateCheckOutcome& outcome) {
    joinWorker();
    checking_ = false;
    // Idle again before the outcome is shown, so a driver that runs a nested event loop sees a
    // consistent state.
    setCanCheck(started_);
    userDriver_->showOutcome(outcome);
}

void SoftwareUpdater::setCanCheck(bool value) {
    if (canCheck_ == value)
        return;
    canCheck_ = value;
    emit canCheckForUpdatesChanged(value);
}

void SoftwareUpdater::joinWorker() {
    if (worker_.joinable())
        worker_.join();
}
