#include "updates/AppcastParser.h"
#include "updates/UpdateCheckOutcome.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

const QUrl feedUrl("https://updates.quorvel.example/highlighter/appcast.xml");

QByteArray rss(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:lx=\"https://quorvel.example/xml/appcast\"\n"
           "     xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           "<channel><title>Lumarex</title><link>https://quorvel.example</link>\n" +
           items + "\n</channel></rss>\n";
}

AppcastParser::Result parse(const QByteArray& xml) {
    return AppcastParser::parse(xml, feedUrl);
}

TEST(AppcastParserTest, ReadsVersionsAddressesAndRequirements) {
    const AppcastParser::Result result = parse(rss(R"xml(
        <item>
          <title>Lumarex 1.2</title>
          <lx:releaseNotesLink> https://quorvel.example/notes/1.2 </lx:releaseNotesLink>
          <lx:minimumSystemVersion>12</lx:minimumSystemVersion>
          <pubDate>Tue, 11 Jun 2024 10:00:00 +0000</pubDate>
          <enclosure url="https://downloads.quorvel.example/Lumarex-1.2.tar.gz"
                     lx:version="120" lx:shortVersionString="1.2" length="12345" type="application/gzip"/>
        </item>)xml"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(result.items.size(), 1);
    const AppcastItem& item = result.items.first();
    EXPECT_EQ(item.title, "Lumarex 1.2");
    EXPECT_EQ(item.version, "120");
    EXPECT_EQ(item.shortVersion, "1.2");
    EXPECT_EQ(item.displayVersion(), "1.2");
    EXPECT_EQ(item.enclosureUrl, QUrl("https://downloads.quorvel.example/Lumarex-1.2.tar.gz"));
    EXPECT_EQ(item.releaseNotesUrl, QUrl("https://quorvel.example/notes/1.2"));
    EXPECT_EQ(item.minimumSystemVersion, "12");
}

TEST(AppcastParserTest, VersionOnTheItemWinsOverTheEnclosure) {
    const AppcastParser::Result result = parse(rss(R"xml(
        <item><lx:version>3.0</lx:version><lx:shortVersionString>Three</lx:shortVersionString>
          <enclosure url="https://d.quorvel.example/a" lx:version="2.0" lx:shortVersionString="Two"/></item>
        <item lx:version="4.0"><enclosure url="https://d.quorvel.example/b" lx:version="1.0"/></item>
        <item><enclosure url="https://d.quorvel.example/c" lx:version="5.0"/><title>only enclosure</title></item>
        <item><lx:version>6.0</lx:version><link>https://quorvel.example/6</link></item>)xml"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(result.items.size(), 4);
    EXPECT_EQ(result.items[0].version, "3.0");
    EXPECT_EQ(result.items[0].shortVersion, "Three");
    EXPECT_EQ(result.items[1].version, "4.0");
    EXPECT_EQ(result.items[2].version, "5.0");
    EXPECT_EQ(result.items[3].version, "6.0");
    EXPECT_EQ(result.items[3].downloadPage(), QUrl("https://quorvel.example/6"));
}

TEST(AppcastParserTest, OnlyWebAddressesAreKeptAndRelativeOnesAreResolved) {
    const AppcastParser::Result result = parse(rss(R"xml(
        <item><enclosure url="../downloads/Lumarex-2.0.tar.gz" lx:version="2.0"/></item>
        <item><enclosure url="file:///etc/passwd" lx:version="9.0"/></item>
        <item><enclosure url="javascript:alert(1)" lx:version="9.1"/>
              <lx:releaseNotesLink>https://quorvel.example/notes/9.1</lx:releaseNotesLink></item>
        <item><enclosure url="https://d.quorvel.example/no-version.tar.gz"/></item>)xml"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(result.items.size(), 2);
    EXPECT_EQ(result.items[0].downloadPage(),
              QUrl("https://updates.quorvel.example/downloads/Lumarex-2.0.tar.gz"));
    EXPECT_EQ(result.items[1].version, "9.1");
    EXPECT_FALSE(result.items[1].enclosureUrl.isValid());
    EXPECT_EQ(result.items[1].downloadPage(), QUrl("https://quorvel.example/notes/9.1"));
}

TEST(AppcastParserTest, BrokenDocumentsAreErrorsWithAReason) {
    struct Case {
        QByteArray xml;
        const char* reason;
    };
    const QByteArray good =
        rss(R"xml(<item><enclosure url="https://d.quorvel.example/a" lx:version="2.0"/></item>)xml");
    const Case cases[] = {
        {"", "empty"},
        {"  \n\t ", "empty"},
        {good.left(good.size() / 2), "not valid XML"},
        {good + "<rss/>", "not valid XML"},
        {rss("<item><title>unclosed</item>"), "not valid XML"},
        {rss("<item><x:version>1</x:version></item>"), "not valid XML"}, // undeclared prefix
        {"<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry/></feed>", "not an RSS document"},
        {"<!DOCTYPE html><html><body>502 Bad Gateway</body></html>", "not an RSS document"},
        {"<rss version=\"2.0\"></rss>", "no channel"},
        {rss("<item><title>no version, no address</title></item>"), "no release"},
        {QByteArray("\xff\xfe<\x00r\x00s", 7), "not valid XML"}, // UTF-16 cut mid-character
    };
    for (const Case& c : cases) {
        const AppcastParser::Result result = parse(c.xml);
        EXPECT_FALSE(result.ok()) << c.xml.toStdString();
        EXPECT_TRUE(result.items.isEmpty());
        EXPECT_TRUE(result.error.contains(QLatin1String(c.reason)))
            << c.xml.toStdString() << " -> " << result.error.toStdString();
    }
    // A location helps whoever maintains the feed.
    EXPECT_TRUE(parse(rss("<item><title>unclosed</item>")).error.contains("line 5"));
}

TEST(AppcastParserTest, EmptyChannelIsAValidFeedWithoutReleases) {
    const AppcastParser::Result result = parse(rss(""));
    EXPECT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_TRUE(result.items.isEmpty());
    EXPECT_FALSE(AppcastParser::newest(result.items).has_value());
}

TEST(AppcastParserTest, NewestIsTheHighestVersionAndTheFirstOfEquals) {
    const AppcastParser::Result result = parse(rss(R"xml(
        <item><title>a</title><enclosure url="https://d.quorvel.example/a" lx:version="1.9"/></item>
        <item><title>b</title><enclosure url="https://d.quorvel.example/b" lx:version="1.10"/></item>
        <item><title>c</title><enclosure url="https://d.quorvel.example/c" lx:version="1.10.0"/></item>
        <item><title>d</title><enclosure url="https://d.quorvel.example/d" lx:version="1.10b3"/></item>
        <item><title>e</title><enclosure url="https://d.quorvel.example/e" lx:version="1.2"/></item>)xml"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    const std::optional<AppcastItem> newest = AppcastParser::newest(result.items);
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->title, "b");
}

TEST(UpdateCheckOutcomeTest, ComparesTheNewestReleaseWithTheRunningVersion) {
    const QByteArray feed = rss(R"xml(
        <item><enclosure url="https://d.quorvel.example/a" lx:version="1.10"/></item>
        <item><enclosure url="https://d.quorvel.example/b" lx:version="1.9"/></item>)xml");
    EXPECT_EQ(UpdateCheckOutcome::fromFeed(feed, feedUrl, "1.9").kind,
              UpdateCheckOutcome::Kind::UpdateAvailable);
    EXPECT_EQ(UpdateCheckOutcome::fromFeed(feed, feedUrl, "1.9").update.version, "1.10");
    EXPECT_EQ(UpdateCheckOutcome::fromFeed(feed, feedUrl, "1.10.0").kind, UpdateCheckOutcome::Kind::UpToDate);
    EXPECT_EQ(UpdateCheckOutcome::fromFeed(feed, feedUrl, "2.0").kind, UpdateCheckOutcome::Kind::UpToDate);
    const UpdateCheckOutcome broken = UpdateCheckOutcome::fromFeed("<rss>", feedUrl, "1.0");
    EXPECT_EQ(broken.kind, UpdateCheckOutcome::Kind::Failed);
    EXPECT_FALSE(broken.error.isEmpty());
}

} // namespace
