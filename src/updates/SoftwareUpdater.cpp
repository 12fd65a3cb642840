#include "SoftwareUpdater.h"

#include "DialogUserDriver.h"
#include "UpdaterDelegate.h"

#include <QCoreApplication>
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
      options_(std::move(options)) {
    connect(&fetcher_, &FeedFetcher::finished, this, &SoftwareUpdater::finishCheck);
}

SoftwareUpdater::~SoftwareUpdater() = default;

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

    const QUrl feedUrl(delegate_.feedURLStringForUpdater(this), QUrl::StrictMode);
    checkedVersion_ =
        options_.currentVersion.isEmpty() ? QCoreApplication::applicationVersion() : options_.currentVersion;
    FeedFetcher::Options fetchOptions = options_.fetch;
    if (fetchOptions.userAgent.isEmpty())
        fetchOptions.userAgent = QCoreApplication::applicationName() + u'/' + checkedVersion_;
    fetcher_.fetch(feedUrl, fetchOptions);
}

void SoftwareUpdater::finishCheck(const FeedFetcher::Response& response) {
    const UpdateCheckOutcome outcome =
        response.ok ? UpdateCheckOutcome::fromFeed(response.body, response.finalUrl, checkedVersion_)
                    : UpdateCheckOutcome::failed(response.error, checkedVersion_);
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
