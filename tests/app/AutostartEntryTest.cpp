#include "app/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/ReadOnlyFolder.h"

#include <gtest/gtest.h>


namespace {

class AutostartEntryTest : public testing::Test {
  protected:
    QString folder() const { return QDir(home.path()).filePath("config/autostart"); }
    AutostartEntry entry() const { return AutostartEntry(folder(), "lumarex --background"); }
    void write(const QByteArray& content) const {
        QDir().mkpath(folder());
        QFile file(entry().filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QTemporaryDir home;
};

TEST_F(AutostartEntryTest, TurningOnWritesAnEntryThatRunsLumarexInTheBackground) {
    EXPECT_FALSE(entry().read().enabled);
    QString error;
    ASSERT_TRUE(entry().setEnabled(true, &error))
        << error.toStdString() << " (the folder is made when missing)";
    EXPECT_TRUE(entry().filePath().endsWith("/config/autostart/example.quorvel.Lumarex.desktop"));
    QFile file(entry().filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(content.contains("\nExec=lumarex --background\n")) << content.toStdString();
    EXPECT_TRUE(content.contains("\nType=Application\n"));
    const AutostartEntry::State state = entry().read();
    EXPECT_TRUE(state.enabled);
    EXPECT_TRUE(state.problem.isEmpty());
}

TEST_F(AutostartEntryTest, TheWrittenEntryPassesDesktopFileValidate) {
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(validator.isEmpty())
        << "desktop-file-validate (desktop-file-utils) is missing: run scripts/bootstrap";
    QString error;
    ASSERT_TRUE(entry().setEnabled(true, &error));
    QProcess process;
    process.start(validator, {entry().filePath()});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardOutput().toStdString();
    EXPECT_TRUE(process.readAllStandardOutput().trimmed().isEmpty()) << "no warnings either";
}

TEST_F(AutostartEntryTest, TurningOffRemovesTheEntry) {
    QString error;
    ASSERT_TRUE(entry().setEnabled(true, &error));
    ASSERT_TRUE(entry().setEnabled(false, &error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(entry().filePath()));
    EXPECT_FALSE(entry().read().enabled);
    EXPECT_TRUE(entry().setEnabled(false, &error)) << "nothing to remove is no failure";
}

TEST_F(AutostartEntryTest, TheFileEditedByHandDecides) {
    write("[Desktop Entry]\nType=Application\nName=Mine\nExec=lumarex --background --extra\n");
    EXPECT_TRUE(entry().read().enabled);
    write("[Desktop Entry]\nType=Application\nExec=lumarex --background\nHidden=true\n");
    EXPECT_FALSE(entry().read().enabled);
    EXPECT_TRUE(entry().read().problem.isEmpty()) << "the desktop's own way of switching it off";
    write("[Desktop Entry]\nExec=lumarex --background\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(entry().read().enabled);
}

TEST_F(AutostartEntryTest, AHandBrokenFileCountsAsOffAndSaysWhy) {
    write(QByteArray("\x89PNG\r\n\x1a\n\0\0garbage", 17));
    AutostartEntry::State state = entry().read();
    EXPECT_FALSE(state.enabled);
    EXPECT_TRUE(state.problem.contains("is not a desktop entry")) << state.problem.toStdString();

    write("[Desktop Entry]\nType=Application\nName=Lumarex\n");
    state = entry().read();
    EXPECT_FALSE(state.enabled);
    EXPECT_TRUE(state.problem.contains("has no Exec line")) << state.problem.toStdString();

    // Turning it on again writes a good one over it.
    QString error;
    ASSERT_TRUE(entry().setEnabled(true, &error));
    EXPECT_TRUE(entry().read().enabled);
}

TEST_F(AutostartEntryTest, AFolderThatCannotBeMadeIsNamed) {
    // A file where the config folder should be: nothing can be made below it, not even by root.
    QFile blocker(QDir(home.path()).filePath("config"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    EXPECT_FALSE(entry().setEnabled(true, &error));
    EXPECT_EQ(error, QStringLiteral("the folder %1 could not be made").arg(folder()));
    EXPECT_FALSE(entry().read().enabled);
}

TEST_F(AutostartEntryTest, AnEntryThatCannotBeWrittenOrRemovedIsNamed) {
    // A folder in the entry's place: it can be neither written nor removed as a file.
    ASSERT_TRUE(QDir().mkpath(entry().filePath() + "/inside"));
    QString error;
    EXPECT_FALSE(entry().setEnabled(true, &error));
    EXPECT_TRUE(error.startsWith(entry().filePath() + " could not be written")) << error.toStdString();
    EXPECT_FALSE(entry().setEnabled(false, &error));
    EXPECT_TRUE(error.startsWith(entry().filePath() + " could not be removed")) << error.toStdString();
}

TEST_F(AutostartEntryTest, AReadOnlyFolderIsNamed) {
    testsupport::ReadOnlyFolder readOnly(folder().toStdString());
    if (!readOnly.unavailable().empty())
        GTEST_SKIP() << readOnly.unavailable();
    ASSERT_TRUE(readOnly.seal());
    QString error;
    EXPECT_FALSE(entry().setEnabled(true, &error));
    EXPECT_TRUE(error.endsWith(QStringLiteral("the folder %1 is read-only").arg(folder())))
        << error.toStdString();
}

TEST_F(AutostartEntryTest, TheFolderFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(QDir(home.path()).filePath("elsewhere")));
    EXPECT_EQ(AutostartEntry::defaultFolder(), QDir(home.path()).filePath("elsewhere/autostart"));
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(AutostartEntryTest, TheCommandQuotesAProgramPathThatNeedsIt) {
    EXPECT_EQ(AutostartEntry::execLine("lumarex", true), "lumarex --background");
    EXPECT_EQ(AutostartEntry::execLine("/opt/lumarex/bin/lumarex", false),
              "/opt/lumarex/bin/lumarex --background");
    EXPECT_EQ(AutostartEntry::execLine("/home/me/my builds/lumarex", false),
              "\"/home/me/my builds/lumarex\" --background");
    EXPECT_EQ(AutostartEntry::execLine("/tmp/100%/$x/lumarex", false),
              "\"/tmp/100%%/\\\\$x/lumarex\" --background");
}

} // namespace
