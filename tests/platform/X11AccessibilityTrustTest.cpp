#include "platform/x11/X11AccessibilityTrust.h"

#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class X11AccessibilityTrustTest : public testing::Test {
  protected:
    X11AccessibilityTrustTest() : path(directory.filePath("trust")) {
        qputenv(X11AccessibilityTrust::overrideVariable, QFile::encodeName(path));
    }
    ~X11AccessibilityTrustTest() override { qunsetenv(X11AccessibilityTrust::overrideVariable); }

    void write(const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QTemporaryDir directory;
    QString path;
    // No X connection: only the override file can grant trust.
    X11AccessibilityTrust trust{nullptr};
};

TEST_F(X11AccessibilityTrustTest, OverrideFileIsReadOnEveryQuery) {
    EXPECT_FALSE(trust.isTrusted()) << "no file yet";
    write("1");
    EXPECT_TRUE(trust.isTrusted());
    write("0\n");
    EXPECT_FALSE(trust.isTrusted());
    write(" 1\n");
    EXPECT_TRUE(trust.isTrusted());
    write("yes");
    EXPECT_FALSE(trust.isTrusted()) << "other content leaves the answer to the server (none here)";
    QFile::remove(path);
    EXPECT_FALSE(trust.isTrusted());
}

TEST_F(X11AccessibilityTrustTest, PromptExplainsOnlyWhenNotTrusted) {
    write("1");
    EXPECT_TRUE(trust.prompt());
    EXPECT_EQ(trust.promptDialog(), nullptr);

    write("0");
    EXPECT_FALSE(trust.prompt());
    ASSERT_NE(trust.promptDialog(), nullptr);
    EXPECT_TRUE(trust.promptDialog()->isVisible()) << "shown without blocking the caller";
    QMessageBox* first = trust.promptDialog();
    EXPECT_FALSE(trust.prompt());
    EXPECT_EQ(trust.promptDialog(), first) << "a second request raises the open dialog";
}

} // namespace
