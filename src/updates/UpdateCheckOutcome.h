#pragma once

#include "AppcastItem.h"

#include <QByteArrayView>
#include <QString>
#include <QUrl>

// What one update check found, ready to be shown: up to date, a newer release, or a failure with its
// reason. Plain value; safe to copy between threads.
struct UpdateCheckOutcome {
    enum class Kind { UpToDate, UpdateAvailable, Failed };

    Kind kind = Kind::Failed;
    QString currentVersion;
    AppcastItem update; // the newest release when kind is UpdateAvailable
    QString error;      // the reason, for people, when kind is Failed

    static UpdateCheckOutcome failed(QString reason, QString currentVersion = {});

    // Judges a fetched feed against the running version: the newest usable item decides. A feed
    // that lists nothing at all means there is nothing newer.
    static UpdateCheckOutcome fromFeed(QByteArrayView feed, const QUrl& feedUrl,
                                       const QString& currentVersion);
};
