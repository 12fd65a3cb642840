#pragma once

#include <QString>
#include <QUrl>

// One release offered by the update feed. Plain value; safe to copy between threads.
struct AppcastItem {
    QString title;
    QString version;              // compared with the running version
    QString shortVersion;         // shown to people; may be empty
    QUrl enclosureUrl;            // the download itself; http(s) only
    QUrl releaseNotesUrl;         // http(s) only
    QUrl link;                    // the item's web page; http(s) only
    QString minimumSystemVersion; // informational: kept from the feed, not enforced on Linux

    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }

    // The page that "Download" opens: the download itself, else the release notes, else the item's page.
    QUrl downloadPage() const {
        if (enclosureUrl.isValid())
            return enclosureUrl;
        if (releaseNotesUrl.isValid())
            return releaseNotesUrl;
        return link;
    }
};
