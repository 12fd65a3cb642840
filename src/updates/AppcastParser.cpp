#include "AppcastParser.h"

#include "VersionComparator.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QXmlStreamReader>

namespace {

QString attribute(const QXmlStreamAttributes& attributes, QStringView localName) {
    for (const QXmlStreamAttribute& a : attributes) {
        if (a.name() == localName)
            return a.value().trimmed().toString();
    }
    return {};
}

// Only web addresses are ever opened; anything else in a feed (file:, javascript:, custom schemes)
// would hand the feed's author a way to run things on this machine.
QUrl webAddress(const QString& text, const QUrl& feedUrl) {
    if (text.isEmpty())
        return {};
    QUrl url(text, QUrl::TolerantMode);
    if (url.isRelative() && feedUrl.isValid())
        url = feedUrl.resolved(url);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return {};
    return url;
}

class ItemReader {
  public:
    ItemReader(QXmlStreamReader& xml, const QUrl& feedUrl) : xml_(xml), feedUrl_(feedUrl) {}

    // Reads the <item> the reader stands on, up to and including its end tag.
    AppcastItem read() {
        AppcastItem item;
        QString elementVersion;
        QString elementShortVersion;
        const QString itemVersion = attribute(xml_.attributes(), u"version");
        const QString itemShortVersion = attribute(xml_.attributes(), u"shortVersionString");
        QString enclosureVersion;
        QString enclosureShortVersion;

        while (xml_.readNextStartElement()) {
            const QStringView name = xml_.name();
            if (name == u"title") {
                item.title = text();
            } else if (name == u"enclosure") {
                const QXmlStreamAttributes attributes = xml_.attributes();
                if (!item.enclosureUrl.isValid()) {
                    item.enclosureUrl = webAddress(attribute(attributes, u"url"), feedUrl_);
                    enclosureVersion = attribute(attributes, u"version");
                    enclosureShortVersion = attribute(attributes, u"shortVersionString");
                }
                xml_.skipCurrentElement();
            } else if (name == u"link") {
                item.link = webAddress(text(), feedUrl_);
            } else if (name == u"releaseNotesLink") {
                item.releaseNotesUrl = webAddress(text(), feedUrl_);
            } else if (name == u"minimumSystemVersion") {
                item.minimumSystemVersion = text();
            } else if (name == u"version") {
                elementVersion = text();
            } else if (name == u"shortVersionString") {
                elementShortVersion = text();
            } else {
                xml_.skipCurrentElement();
            }
        }

        // The most specific statement wins: an element of the item, then the item's own attribute,
        // then the enclosure's.
        item.version = firstNonEmpty({elementVersion, itemVersion, enclosureVersion});
        item.shortVersion = firstNonEmpty({elementShortVersion, itemShortVersion, enclosureShortVersion});
        return item;
    }

  private:
    QString text() { return xml_.readElementText(QXmlStreamReader::SkipChildElements).trimmed(); }

    static QString firstNonEmpty(std::initializer_list<QString> candidates) {
        for (const QString& c : candidates) {
            if (!c.isEmpty())
                return c;
        }
        return {};
    }

    QXmlStreamReader& xml_;
    const QUrl& feedUrl_;
};

QString withoutFinalPeriod(QString text) {
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

bool isUsable(const AppcastItem& item) {
    return !item.version.isEmpty() && item.downloadPage().isValid();
}

} // namespace

AppcastParser::Result AppcastParser::parse(QByteArrayView data, const QUrl& feedUrl) {
    Result result;
    if (data.trimmed().isEmpty()) {
        result.error = QCoreApplication::translate("AppcastParser", "The update feed is empty.");
        return result;
    }

    const QByteArray bytes = QByteArray::fromRawData(data.data(), data.size());
    QXmlStreamReader xml(bytes);

    QString rootName;
    bool sawChannel = false;
    qsizetype itemCount = 0;
    if (xml.readNextStartElement()) {
        rootName = xml.name().toString();
        if (rootName == u"rss") {
            while (xml.readNextStartElement()) {
                if (xml.name() != u"channel" || sawChannel) {
                    xml.skipCurrentElement();
                    continue;
                }
                sawChannel = true;
                while (xml.readNextStartElement()) {
                    if (xml.name() != u"item") {
                        xml.skipCurrentElement();
                        continue;
                    }
                    ++itemCount;
                    AppcastItem item = ItemReader(xml, feedUrl).read();
                    if (isUsable(item))
                        result.items.append(std::move(item));
                }
            }
        }
    }
    // Read to the end so that damage after the channel (or a truncated tail) is noticed too.
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();

    if (xml.hasError()) {
        result.items.clear();
        result.error = QCoreApplication::translate(
                           "AppcastParser", "The update feed is not valid XML: %1 (line %2, column %3).")
                           .arg(withoutFinalPeriod(xml.errorString()))
                           .arg(xml.lineNumber())
                           .arg(xml.columnNumber());
    } else if (rootName != u"rss") {
        result.error =
            QCoreApplication::translate("AppcastParser", "The update feed is not an RSS document.");
    } else if (!sawChannel) {
        result.error = QCoreApplication::translate("AppcastParser", "The update feed has no channel.");
    } else if (itemCount > 0 && result.items.isEmpty()) {
        result.error = QCoreApplication::translate(
            "AppcastParser", "The update feed lists no release with both a version and a download address.");
    }
    return result;
}

std::optional<AppcastItem> AppcastParser::newest(const QList<AppcastItem>& items) {
    const AppcastItem* best = nullptr;
    for (const AppcastItem& item : items) {
        if (!best || VersionComparator::isNewer(item.version, best->version))
            best = &item;
    }
    if (!best)
        return std::nullopt;
    return *best;
}
