#include "highlight/HighlightSettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "support/ReadOnlyFolder.h"

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString hexOf(const std::optional<QColor>& color) {
    return color ? HighlightSettings::hexFromColor(*color) : QStringLiteral("none");
}

class HighlightSettingsTest : public testing::Test {
  protected:
    QTemporaryDir dir;
    QString path = dir.filePath("Lumarex.conf");
};

} // namespace

TEST(ColorTextTest, ParsesTheColourTextFormatLeniently) {
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex("#00ff80")), "#00FF80");
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex("00FF80")), "#00FF80");
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex("  #00FF80 \t")), "#00FF80");
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex("0x12ab")), "#0012AB");
    // Only the leading hexadecimal digits count.
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex("12XYZ0")), "#000012");
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex("GGGGGG")), "#000000");
    // Six user-perceived characters, though seven UTF-16 units: "00FF8" then ü written with a combining mark.
    EXPECT_EQ(hexOf(HighlightSettings::colorFromHex(QString::fromUtf8("#00FF8u\u0308"))), "#000FF8");
    EXPECT_FALSE(HighlightSettings::colorFromHex(QString::fromUtf8("#00FF8u\u0308x")));

    for (const char* wrongLength : {"#0F8", "#00FF8080", "", "#", "#00 FF80", "0x00FF80"})
        EXPECT_FALSE(HighlightSettings::colorFromHex(wrongLength)) << wrongLength;
}

TEST(ColorTextTest, FormatsUpperCaseWithoutAlphaAndRoundTripsEveryByte) {
    for (int i = 0; i <= 255; ++i) {
        const QString text = HighlightSettings::hexFromColor(QColor(i, 255 - i, i / 2));
        const auto back = HighlightSettings::colorFromHex(text);
        ASSERT_TRUE(back);
        ASSERT_EQ(back->red(), i) << text.toStdString();
        ASSERT_EQ(back->green(), 255 - i) << text.toStdString();
        ASSERT_EQ(back->blue(), i / 2) << text.toStdString();
    }
    EXPECT_EQ(HighlightSettings::hexFromColor(QColor(0xab, 0xcd, 0xef, 128)), "#ABCDEF");
    EXPECT_EQ(HighlightSettings::hexFromColor(QColor::fromRgbF(0.5f, 0.999f, 0.0f)), "#7FFE00");
    EXPECT_EQ(HighlightSettings::hexFromColor(QColor::fromHsv(120, 255, 255)), "#00FF00");
    EXPECT_EQ(HighlightSettings::hexFromColor(QColor()), "#000000");
}

TEST_F(HighlightSettingsTest, FirstLaunchHasDefaultsAndWritesNothing) {
    HighlightSettings settings(path);
    EXPECT_EQ(settings.baseColor(), QColor(255, 0, 0));
    EXPECT_EQ(settings.baseOpacity(), 0.3);
    EXPECT_EQ(settings.baseSize(), 30.0);
    EXPECT_EQ(settings.clickColor(), QColor(255, 0, 0));
    EXPECT_EQ(settings.clickOpacity(), 0.6);
    EXPECT_EQ(settings.clickSize(), 40.0);
    EXPECT_EQ(settings.toggleShortcut(), "");
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(HighlightSettingsTest, EveryAssignmentWritesAllSevenKeysToDisk) {
    {
        HighlightSettings settings(path);
        QSignalSpy sizeSpy(&settings, &HighlightSettings::baseSizeChanged);
        QSignalSpy changedSpy(&settings, &HighlightSettings::changed);
        settings.setBaseSize(30.0); // the current value still writes and notifies
        EXPECT_EQ(sizeSpy.count(), 1);
        EXPECT_EQ(changedSpy.count(), 1);

        const QByteArray text = readFile(path);
        EXPECT_TRUE(text.startsWith("[General]\n")) << text.constData();
        for (const char* line :
             {"toggleShortcut=\n", "baseColor=#FF0000\n", "baseOpacity=0.3\n", "baseSize=30\n",
              "clickColor=#FF0000\n", "clickOpacity=0.6\n", "clickSize=40\n"})
            EXPECT_TRUE(text.contains(line)) << line << " missing from\n" << text.constData();

        settings.setBaseColor(QColor(0, 255, 128, 128)); // alpha kept in memory, not on disk
        settings.setClickColor(QColor(0x12, 0x34, 0x56));
        settings.setBaseOpacity(0.123456789012345);
        settings.setClickSize(77.25);
        settings.setToggleShortcut(QString::fromUtf8("⌘⌥,")); // a comma must not turn it into a list
        EXPECT_EQ(settings.baseColor().alpha(), 128);
    }
    QSettings raw(path, QSettings::IniFormat);
    EXPECT_EQ(raw.value("baseColor").toString(), "#00FF80");
    EXPECT_EQ(raw.value("clickColor").toString(), "#123456");

    HighlightSettings reloaded(path);
    EXPECT_EQ(reloaded.baseColor(), QColor(0, 255, 128));
    EXPECT_EQ(reloaded.clickColor(), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(reloaded.baseOpacity(), 0.123456789012345);
    EXPECT_EQ(reloaded.clickSize(), 77.25);
    EXPECT_EQ(reloaded.toggleShortcut(), QString::fromUtf8("⌘⌥,"));
}

TEST_F(HighlightSettingsTest, LoadsStoredValuesAndWritesColoursBackUpperCase) {
    writeFile(path, "[General]\nbaseColor=#ff0000\nclickColor= 00ff80 \nbaseOpacity=0.5\nbaseSize=55\n"
                    "clickOpacity=0.9\nclickSize=12.5\ntoggleShortcut=\xe2\x8c\x98K\n");
    HighlightSettings settings(path);
    EXPECT_EQ(settings.clickColor(), QColor(0, 255, 128));
    EXPECT_EQ(settings.baseOpacity(), 0.5);
    EXPECT_EQ(settings.baseSize(), 55.0);
    EXPECT_EQ(settings.clickOpacity(), 0.9);
    EXPECT_EQ(settings.clickSize(), 12.5);
    EXPECT_EQ(settings.toggleShortcut(), QString::fromUtf8("⌘K"));
    settings.setBaseSize(56);
    EXPECT_TRUE(readFile(path).contains("baseColor=#FF0000\n"));
    EXPECT_TRUE(readFile(path).contains("clickColor=#00FF80\n"));
}

TEST_F(HighlightSettingsTest, ZeroOpacityIsKeptButZeroSizeAndBadColoursFallBack) {
    writeFile(path, "[General]\nbaseOpacity=0\nclickOpacity=0\nbaseSize=0\nclickSize=0\n"
                    "baseColor=#0F8\nclickColor=#00FF8080\n");
    HighlightSettings settings(path);
    EXPECT_EQ(settings.baseOpacity(), 0.0);
    EXPECT_EQ(settings.clickOpacity(), 0.0);
    EXPECT_EQ(settings.baseSize(), 30.0);
    EXPECT_EQ(settings.clickSize(), 40.0);
    EXPECT_EQ(settings.baseColor(), QColor(255, 0, 0));
    EXPECT_EQ(settings.clickColor(), QColor(255, 0, 0));
}

TEST_F(HighlightSettingsTest, ResetAssignsDefaultsOneByOneAndClearsTheStoredShortcut) {
    HighlightSettings settings(path);
    settings.setToggleShortcut("⇧F");
    settings.setBaseColor(Qt::blue);
    settings.setClickSize(90);
    QSignalSpy changedSpy(&settings, &HighlightSettings::changed);
    QSignalSpy shortcutSpy(&settings, &HighlightSettings::toggleShortcutChanged);
    settings.resetToDefaults();
    EXPECT_EQ(changedSpy.count(), 7);
    EXPECT_EQ(shortcutSpy.count(), 1);
    EXPECT_EQ(settings.baseColor(), QColor(Qt::red));
    EXPECT_EQ(settings.clickSize(), 40.0);
    QSettings raw(path, QSettings::IniFormat);
    EXPECT_TRUE(raw.contains("toggleShortcut"));
    EXPECT_EQ(raw.value("toggleShortcut").toString(), "");
    EXPECT_EQ(raw.value("baseColor").toString(), "#FF0000");
    EXPECT_EQ(raw.value("clickSize").toDouble(), 40.0);
}

TEST_F(HighlightSettingsTest, MalformedFileLoadsDefaultsSaysSoOnceAndIsKeptAside) {
    const QByteArray original = "[General\nbaseSize=80\nthis is not a setting\n";
    writeFile(path, original);
    testing::internal::CaptureStderr();
    HighlightSettings settings(path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(path.toStdString()), std::string::npos) << err;
    EXPECT_EQ(settings.baseSize(), 30.0);

    settings.setClickSize(50);
    EXPECT_EQ(readFile(path + ".corrupt"), original);
    EXPECT_EQ(HighlightSettings(path).clickSize(), 50.0);
}

TEST_F(HighlightSettingsTest, ValuesOfTheWrongKindFallBackOneByOne) {
    writeFile(path, "[General]\nbaseOpacity=abc\nclickSize=1, 2\nbaseSize=nan\n"
                    "toggleShortcut=@ByteArray(K)\nclickOpacity=0.7\n");
    testing::internal::CaptureStderr();
    HighlightSettings settings(path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    for (const char* key : {"baseOpacity", "clickSize", "baseSize", "toggleShortcut"})
        EXPECT_NE(err.find(key), std::string::npos) << key << " not named in: " << err;
    EXPECT_EQ(settings.baseOpacity(), 0.3);
    EXPECT_EQ(settings.clickSize(), 40.0);
    EXPECT_EQ(settings.baseSize(), 30.0);
    EXPECT_EQ(settings.toggleShortcut(), "");
    EXPECT_EQ(settings.clickOpacity(), 0.7);
    EXPECT_TRUE(QFile::exists(path + ".corrupt"));
}

TEST_F(HighlightSettingsTest, UnreadableFileIsNeverWrittenOver) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("Lumarex.conf")); // a folder where the file should be
    testing::internal::CaptureStderr();
    HighlightSettings settings(path);
    settings.setBaseSize(70); // must neither crash nor touch the folder
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(settings.baseSize(), 70.0);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST_F(HighlightSettingsTest, GoodFileProducesNoComplaint) {
    writeFile(path, "[General]\nbaseSize=44\n");
    testing::internal::CaptureStderr();
    HighlightSettings settings(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(QFile::exists(path + ".corrupt"));
}

// A hand-edited file may hold anything; what is loaded stays within what the window can set.
TEST_F(HighlightSettingsTest, ImpossibleValuesLoadWithinTheWindowsRanges) {
    writeFile(path, "[General]\nbaseSize=1e308\nclickSize=-5\nbaseOpacity=-0.5\nclickOpacity=7\n"
                    "baseColor=#zzzzzz\nclickColor=" +
                        QByteArray(3000, 'f') + "\ntoggleShortcut=" + QByteArray(10000, 'H') + "\n");
    testing::internal::CaptureStderr();
    HighlightSettings settings(path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(settings.baseSize(), 100.0);
    EXPECT_EQ(settings.clickSize(), 10.0);
    EXPECT_EQ(settings.baseOpacity(), 0.0);
    EXPECT_EQ(settings.clickOpacity(), 1.0);
    EXPECT_EQ(HighlightSettings::hexFromColor(settings.baseColor()), "#000000") << "six letters parse as 0";
    EXPECT_EQ(HighlightSettings::hexFromColor(settings.clickColor()), "#FF0000") << "no colour text at all";
    EXPECT_EQ(settings.toggleShortcut(), "");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    for (const char* key : {"baseSize", "clickSize", "baseOpacity", "clickOpacity", "toggleShortcut"})
        EXPECT_NE(err.find(key), std::string::npos) << key << " not named in: " << err;
    EXPECT_EQ(readFile(path + ".corrupt").size(), QFileInfo(path).size()) << "the original is kept aside";
}

// A read-only folder: the program goes on with what it holds, and says once where and why it cannot save.
TEST_F(HighlightSettingsTest, UnsavableSettingsStayInMemoryAndSayWhyOnce) {
    testsupport::ReadOnlyFolder folder(dir.filePath("readonly").toStdString());
    if (!folder.unavailable().empty())
        GTEST_SKIP() << folder.unavailable();
    folder.write("Lumarex.conf", "[General]\nbaseSize=44\n");
    ASSERT_TRUE(folder.seal());
    const QString lockedPath = dir.filePath("readonly/Lumarex.conf");
    HighlightSettings settings(lockedPath);
    QSignalSpy problems(&settings, &HighlightSettings::saveProblemChanged);
    testing::internal::CaptureStderr();
    settings.setBaseSize(70);
    settings.setClickSize(20);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(settings.baseSize(), 70.0);
    EXPECT_EQ(settings.clickSize(), 20.0);
    EXPECT_EQ(readFile(lockedPath), "[General]\nbaseSize=44\n") << "the file is as it was";
    EXPECT_EQ(problems.count(), 1);
    EXPECT_NE(settings.saveProblem().indexOf(lockedPath), -1) << settings.saveProblem().toStdString();
    const QString problem = settings.saveProblem();
    EXPECT_TRUE(problem.contains("read-only", Qt::CaseInsensitive) ||
                problem.contains("permission", Qt::CaseInsensitive))
        << "the cause is named: " << problem.toStdString();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST(HighlightSettingsSharedTest, LivesInTheUserConfigFolder) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    HighlightSettings& shared = HighlightSettings::shared();
    EXPECT_EQ(&shared, &HighlightSettings::shared());
    EXPECT_EQ(shared.fileName(), config.filePath("Quorvel/Lumarex.conf"));
    shared.setClickOpacity(0.25);
    EXPECT_TRUE(readFile(config.filePath("Quorvel/Lumarex.conf")).contains("clickOpacity=0.25\n"));
}
