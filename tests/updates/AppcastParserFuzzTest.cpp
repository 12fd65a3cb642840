// Throws random, truncated and mutated documents at the feed parser. Whatever comes in, parsing must
// end in either usable items or an error text, never a crash, hang or memory error (run under ASan).
// LUMAREX_FUZZ_SEED and LUMAREX_FUZZ_ROUNDS widen a run by hand.
#include "updates/AppcastParser.h"
#include "updates/UpdateCheckOutcome.h"
#include "updates/VersionComparator.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include <random>

namespace {

const QUrl feedUrl("https://updates.quorvel.example/highlighter/appcast.xml");

const QByteArray sample =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<rss version=\"2.0\" xmlns:lx=\"https://quorvel.example/xml/appcast\">\n"
    "<channel><title>Lumarex &amp; friends</title>\n"
    "<item lx:version=\"1.4\"><title>Lumarex 1.4</title>\n"
    "  <lx:releaseNotesLink>notes/1.4.html</lx:releaseNotesLink>\n"
    "  <enclosure url=\"https://d.quorvel.example/Lumarex-1.4.tar.gz\" "
    "lx:shortVersionString=\"1.4\"/></item>\n"
    "<item><lx:version>1.10</lx:version><lx:minimumSystemVersion>12</lx:minimumSystemVersion>\n"
    "  <description><![CDATA[<b>Faster</b> & smaller]]></description>\n"
    "  <enclosure url=\"../files/Lumarex-1.10.tar.gz\" lx:version=\"0.1\"/></item>\n"
    "<item><enclosure url=\"https://d.quorvel.example/Lumarex-1.9.tar.gz\" lx:version=\"1.9\"/></item>\n"
    "</channel></rss>\n";

unsigned seed() {
    bool ok = false;
    const unsigned fromEnvironment = qEnvironmentVariable("LUMAREX_FUZZ_SEED").toUInt(&ok);
    return ok ? fromEnvironment : 0x5eed1234u;
}

int rounds(int byDefault) {
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("LUMAREX_FUZZ_ROUNDS", &ok);
    return ok ? fromEnvironment : byDefault;
}

bool isWebAddress(const QUrl& url) {
    return url.isValid() && (url.scheme() == "https" || url.scheme() == "http") && !url.host().isEmpty();
}

// The contract every result must keep, whatever the input was.
void expectSound(const QByteArray& input) {
    const AppcastParser::Result result = AppcastParser::parse(input, feedUrl);
    if (!result.ok()) {
        ASSERT_TRUE(result.items.isEmpty());
        return;
    }
    for (const AppcastItem& item : result.items) {
        ASSERT_FALSE(item.version.isEmpty());
        ASSERT_TRUE(isWebAddress(item.downloadPage())) << item.downloadPage().toString().toStdString();
        for (const QUrl& url : {item.enclosureUrl, item.releaseNotesUrl, item.link})
            ASSERT_TRUE(url.isEmpty() || isWebAddress(url)) << url.toString().toStdString();
    }
    const std::optional<AppcastItem> newest = AppcastParser::newest(result.items);
    ASSERT_EQ(newest.has_value(), !result.items.isEmpty());
    for (const AppcastItem& item : result.items)
        ASSERT_FALSE(VersionComparator::isNewer(item.version, newest->version));

    const UpdateCheckOutcome outcome = UpdateCheckOutcome::fromFeed(input, feedUrl, "1.5");
    ASSERT_NE(outcome.kind, UpdateCheckOutcome::Kind::Failed);
}

TEST(AppcastParserFuzzTest, TheSampleItselfIsUsable) {
    const AppcastParser::Result result = AppcastParser::parse(sample, feedUrl);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(result.items.size(), 3);
    EXPECT_EQ(AppcastParser::newest(result.items)->version, "1.10");
}

TEST(AppcastParserFuzzTest, EveryTruncationIsAnErrorOrSound) {
    const qsizetype lastTag = sample.lastIndexOf('>');
    for (qsizetype length = 0; length <= sample.size(); ++length) {
        SCOPED_TRACE(length);
        const QByteArray cut = sample.left(length);
        ASSERT_NO_FATAL_FAILURE(expectSound(cut));
        // Cutting before the document's last tag closes must never be taken for a whole feed.
        if (length <= lastTag) {
            ASSERT_FALSE(AppcastParser::parse(cut, feedUrl).ok());
        }
    }
}

TEST(AppcastParserFuzzTest, RandomBytesAreErrorsOrSound) {
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> length(0, 512);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0, n = rounds(3000); round < n; ++round) {
        QByteArray input;
        for (int i = length(random); i > 0; --i)
            input.append(static_cast<char>(byte(random)));
        SCOPED_TRACE(input.toHex().toStdString());
        ASSERT_NO_FATAL_FAILURE(expectSound(input));
    }
}

TEST(AppcastParserFuzzTest, MutatedFeedsAreErrorsOrSound) {
    static const QByteArray interesting[] = {"<",
                                             ">",
                                             "/",
                                             "\"",
                                             "'",
                                             "&",
                                             "&amp;",
                                             "&#0;",
                                             "&#xD800;",
                                             "]]>",
                                             "<item>",
                                             "</item>",
                                             "<enclosure url=\"",
                                             "lx:version=\"",
                                             "javascript:",
                                             "file:///",
                                             "\xc3",
                                             "\xff",
                                             QByteArray(1, '\0'),
                                             "<!DOCTYPE x [<!ENTITY e \"ee\">]>",
                                             "&e;",
                                             " ",
                                             "9999999999999999"};
    std::mt19937 random(seed() + 1);
    std::uniform_int_distribution<int> edits(1, 3);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(interesting)) - 1);
    for (int round = 0, n = rounds(6000); round < n; ++round) {
        QByteArray input = sample;
        for (int e = edits(random); e > 0; --e) {
            std::uniform_int_distribution<qsizetype> at(0, input.size());
            const qsizetype position = at(random);
            switch (kind(random)) {
            case 0: // insert a fragment that matters to XML or to the parser
                input.insert(position, interesting[pick(random)]);
                break;
            case 1: // delete a short stretch
                input.remove(position, std::uniform_int_distribution<qsizetype>(1, 12)(random));
                break;
            case 2: // overwrite one byte
                if (position < input.size())
                    input[position] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
                break;
            default: // duplicate a stretch (repeated items, attributes, channels)
                input.insert(
                    position,
                    input.mid(std::uniform_int_distribution<qsizetype>(0, input.size())(random), 40));
                break;
            }
        }
        SCOPED_TRACE(input.toStdString());
        ASSERT_NO_FATAL_FAILURE(expectSound(input));
    }
}

// Well-formed feeds built from random parts, checked against what the parts say they should give.
TEST(AppcastParserFuzzTest, GeneratedFeedsMatchTheirDescription) {
    static const QByteArray versionAlphabet = "0123456789..ab- ";
    enum Placement { EnclosureAttribute, ItemElement, ItemAttribute };
    enum Address { Absolute, Relative, Unsafe, None };
    struct Part {
        QByteArray version;
        Placement placement;
        Address address;
    };
    std::mt19937 random(seed() + 2);
    std::uniform_int_distribution<int> itemCount(0, 6);
    std::uniform_int_distribution<int> versionLength(0, 6);
    std::uniform_int_distribution<int> versionChar(0, static_cast<int>(versionAlphabet.size()) - 1);
    std::uniform_int_distribution<int> placement(0, 2);
    std::uniform_int_distribution<int> address(0, 3);

    for (int round = 0, n = rounds(3000); round < n; ++round) {
        QList<Part> parts;
        QByteArray items;
        for (int i = itemCount(random); i > 0; --i) {
            Part part{{}, Placement(placement(random)), Address(address(random))};
            for (int c = versionLength(random); c > 0; --c)
                part.version += versionAlphabet[versionChar(random)];
            const QByteArray url = part.address == Absolute
                                       ? "https://d.quorvel.example/" + QByteArray::number(i)
                                   : part.address == Relative ? "files/" + QByteArray::number(i)
                                   : part.address == Unsafe   ? "file:///tmp/" + QByteArray::number(i)
                                                              : QByteArray();
            const QByteArray enclosure =
                "<enclosure url=\"" + url + "\"" +
                (part.placement == EnclosureAttribute ? " lx:version=\"" + part.version + "\"" : "") + "/>";
            items +=
                "<item" +
                (part.placement == ItemAttribute ? " lx:version=\"" + part.version + "\"" : QByteArray()) +
                "><title>" + QByteArray::number(i) + "</title>" +
                (part.placement == ItemElement ? "<lx:version>" + part.version + "</lx:version>"
                                               : QByteArray()) +
                (part.address == None ? QByteArray() : enclosure) + "</item>\n";
            parts.append(part);
        }
        const QByteArray xml =
            "<rss xmlns:lx=\"https://quorvel.example/xml/appcast\"><channel>" + items + "</channel></rss>";
        SCOPED_TRACE(xml.toStdString());

        QList<QString> expected;
        for (const Part& part : parts) {
            const QString version = QString::fromUtf8(part.version).trimmed();
            if (!version.isEmpty() && (part.address == Absolute || part.address == Relative))
                expected.append(version);
        }
        const AppcastParser::Result result = AppcastParser::parse(xml, feedUrl);
        ASSERT_NO_FATAL_FAILURE(expectSound(xml));
        if (!parts.isEmpty() && expected.isEmpty()) {
            ASSERT_FALSE(result.ok());
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        ASSERT_EQ(result.items.size(), expected.size());
        qsizetype best = -1;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(result.items[i].version, expected[i]);
            if (best < 0 || VersionComparator::compare(expected[i], expected[best]) > 0)
                best = i;
        }
        const std::optional<AppcastItem> newest = AppcastParser::newest(result.items);
        ASSERT_EQ(newest.has_value(), best >= 0);
        if (newest) {
            ASSERT_EQ(newest->enclosureUrl, result.items[best].enclosureUrl);
        }
    }
}

TEST(AppcastParserFuzzTest, HostileShapesEndWithoutExhaustingMemoryOrStack) {
    // Deep nesting inside an item.
    QByteArray deep = "<rss><channel><item>";
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    EXPECT_FALSE(AppcastParser::parse(deep, feedUrl).ok());
    for (int i = 0; i < 100000; ++i)
        deep += "</a>";
    deep += "<enclosure url=\"https://d.quorvel.example/x\" version=\"2\"/></item></channel></rss>";
    const AppcastParser::Result nested = AppcastParser::parse(deep, feedUrl);
    ASSERT_TRUE(nested.ok()) << nested.error.toStdString();
    EXPECT_EQ(nested.items.size(), 1);

    // Entities that expand exponentially.
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 12; ++i)
        laughs += QByteArray("<!ENTITY l%1 \"").replace("%1", QByteArray::number(i)) +
                  QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    laughs += "]><rss><channel><item><title>&l11;</title></item></channel></rss>";
    EXPECT_FALSE(AppcastParser::parse(laughs, feedUrl).ok());

    // Very many items and a very long version.
    QByteArray many = "<rss><channel>";
    for (int i = 0; i < 20000; ++i)
        many += "<item><enclosure url=\"https://d.quorvel.example/" + QByteArray::number(i) +
                "\" version=\"1." + QByteArray::number(i) + "\"/></item>";
    many += "<item><enclosure url=\"https://d.quorvel.example/long\" version=\"" + QByteArray(100000, '7') +
            "\"/></item></channel></rss>";
    const AppcastParser::Result result = AppcastParser::parse(many, feedUrl);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(AppcastParser::newest(result.items)->enclosureUrl, QUrl("https://d.quorvel.example/long"));
}

} // namespace
