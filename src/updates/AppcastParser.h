#pragma once

#include "AppcastItem.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// Reads an appcast: an RSS 2.0 document whose items describe releases. Version fields are matched by
// their local name in any namespace: "version" and "shortVersionString" as attributes of the item or its
// enclosure or as child elements of the item, "releaseNotesLink" and "minimumSystemVersion" as child
// elements. Never throws; any input ends in either a list of usable items or an error text.
// Thread-safety: stateless; safe from any thread.
class AppcastParser {
  public:
    struct Result {
        QList<AppcastItem> items; // usable items, in document order
        QString error;            // empty on success; otherwise says what is wrong, for people
        bool ok() const { return error.isEmpty(); }
    };

    // Relative addresses in the feed are resolved against `feedUrl`. Items without a version, or
    // without any http(s) address to open, are left out; a feed whose items are all unusable is an error.
    static Result parse(QByteArrayView xml, const QUrl& feedUrl = {});

    // The item with the highest version; the first of equals. Empty for an empty list.
    static std::optional<AppcastItem> newest(const QList<AppcastItem>& items);
};
