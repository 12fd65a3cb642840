#include "UpdateCheckOutcome.h"

#include "AppcastParser.h"
#include "VersionComparator.h"

UpdateCheckOutcome UpdateCheckOutcome::failed(QString reason, QString currentVersion) {
    UpdateCheckOutcome outcome;
    outcome.kind = Kind::Failed;
    outcome.error = std::move(reason);
    outcome.currentVersion = std::move(currentVersion);
    return outcome;
}

UpdateCheckOutcome UpdateCheckOutcome::fromFeed(QByteArrayView feed, const QUrl& feedUrl,
                                                const QString& currentVersion) {
    const AppcastParser::Result parsed = AppcastParser::parse(feed, feedUrl);
    if (!parsed.ok())
        return failed(parsed.error, currentVersion);

    UpdateCheckOutcome outcome;
    outcome.currentVersion = currentVersion;
    const std::optional<AppcastItem> newest = AppcastParser::newest(parsed.items);
    if (newest && VersionComparator::isNewer(newest->version, currentVersion)) {
        outcome.kind = Kind::UpdateAvailable;
        outcome.update = *newest;
    } else {
        outcome.kind = Kind::UpToDate;
    }
    return outcome;
}
