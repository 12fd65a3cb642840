// The KDE backend's trust against a real headless KWin: the warning's prompt asks KWin to load the
// effect, says plainly when KWin refuses, and names an effect of another version.
#include "kde/EffectBus.h"
#include "platform/AccessibilityTrust.h"
#include "platform/kde/KdeDesktopPlatform.h"
#include "support/KWinSession.h"
#include "support/StagedInstall.h"

#include "lumarex/Product.h"

#include <QApplication>
#include <QDBusConnection>
#include <QMessageBox>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using testsupport::KWinSession;
using testsupport::StagedInstall;

namespace {

// An effect that answers as another version would, on a connection and thread of its own, so that the
// backend's blocking calls from this thread are answered.
class OtherVersionEffect : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.quorvel.Lumarex.KWin1")
    Q_PROPERTY(QString Version READ version)

  public:
    QString version() const { return QStringLiteral("0.9.0"); }
};

QString promptText() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->objectName() == "accessibilityPrompt")
            return box->text();
    return {};
}

// The effect as `make install` lays it out, and as the two packages unpack it.
std::unique_ptr<StagedInstall> stage(const std::string& how) {
    if (how == "packages")
        return std::make_unique<StagedInstall>(
            std::vector<std::filesystem::path>{LUMAREX_APP_DEB, LUMAREX_KWIN_EFFECT_DEB});
    return std::make_unique<StagedInstall>(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, "kwin-effect");
}

class KdeDesktopPlatformInstalledTest : public testing::TestWithParam<std::string> {};

TEST_P(KdeDesktopPlatformInstalledTest, PromptLoadsTheInstalledEffectThatIsNotTurnedOn) {
    const auto staged = stage(GetParam());
    KWinSession kwin({.kwinrc = "", .pluginDir = staged->prefix() / LUMAREX_QT5_PLUGIN_DIR});
    KdeDesktopPlatform platform(kwin.bus());
    ASSERT_FALSE(platform.trust().isTrusted());
    EXPECT_TRUE(platform.trust().prompt());
    EXPECT_TRUE(platform.trust().isTrusted());
    EXPECT_EQ(promptText(), "");
}

INSTANTIATE_TEST_SUITE_P(Staged, KdeDesktopPlatformInstalledTest, testing::Values("install", "packages"),
                         [](const auto& info) { return info.param; });

TEST(KdeDesktopPlatformTest, PromptSaysSoWhenKWinRefusesToLoadTheEffect) {
    KWinSession kwin; // the effect is not installed where it looks
    KdeDesktopPlatform platform(kwin.bus());
    EXPECT_FALSE(platform.trust().prompt());
    const QString text = promptText();
    EXPECT_TRUE(text.contains("kwriteconfig5 --file kwinrc --group Plugins --key lumarex_highlightEnabled true"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("KWin refused to load the effect")) << text.toStdString();
    EXPECT_TRUE(text.contains(product::kwinEffectPackage)) << "the package to install: " << text.toStdString();
    EXPECT_FALSE(platform.trust().isTrusted());
}

TEST(KdeDesktopPlatformTest, AnEffectOfAnotherVersionIsNamedWithWhatToDo) {
    KWinSession kwin;
    QThread thread;
    thread.start();
    OtherVersionEffect effect;
    effect.moveToThread(&thread);
    QDBusConnection connection = QDBusConnection::connectToBus(kwin.busAddress(), "other-version-effect");
    ASSERT_TRUE(connection.registerObject(kdetest::kPath, &effect, QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(connection.registerService(kdetest::kService));

    KdeDesktopPlatform platform(kwin.bus());
    EXPECT_FALSE(platform.trust().prompt());
    const QString text = promptText();
    EXPECT_TRUE(text.contains("is version 0.9.0, but this Lumarex is version " LUMAREX_VERSION)) << text.toStdString();
    EXPECT_TRUE(text.contains("Install Lumarex " LUMAREX_VERSION " again")) << text.toStdString();

    connection.unregisterObject(kdetest::kPath);
    QDBusConnection::disconnectFromBus("other-version-effect");
    thread.quit();
    thread.wait();
}

} // namespace

#include "KdeDesktopPlatformTest.moc"
