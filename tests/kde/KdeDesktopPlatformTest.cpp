// The KDE backend's trust against a real headless KWin: the warning's prompt asks KWin to load the
// effect, and says plainly when KWin refuses.
#include "kde/EffectBus.h"
#include "platform/AccessibilityTrust.h"
#include "platform/kde/KdeDesktopPlatform.h"
#include "support/KWinSession.h"
#include "support/StagedInstall.h"

#include <QApplication>
#include <QMessageBox>

#include <gtest/gtest.h>

using testsupport::KWinSession;
using testsupport::StagedInstall;

namespace {

QString promptText() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->objectName() == "accessibilityPrompt")
            return box->text();
    return {};
}

TEST(KdeDesktopPlatformTest, PromptLoadsTheInstalledEffectThatIsNotTurnedOn) {
    StagedInstall staged(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, "kwin-effect");
    KWinSession kwin({.kwinrc = "", .pluginDir = staged.prefix() / LUMAREX_QT5_PLUGIN_DIR});
    KdeDesktopPlatform platform(kwin.bus());
    ASSERT_FALSE(platform.trust().isTrusted());
    EXPECT_TRUE(platform.trust().prompt());
    EXPECT_TRUE(platform.trust().isTrusted());
    EXPECT_EQ(promptText(), "");
}

TEST(KdeDesktopPlatformTest, PromptSaysSoWhenKWinRefusesToLoadTheEffect) {
    KWinSession kwin; // the effect is not installed where it looks
    KdeDesktopPlatform platform(kwin.bus());
    EXPECT_FALSE(platform.trust().prompt());
    const QString text = promptText();
    EXPECT_TRUE(text.contains("kwriteconfig5 --file kwinrc --group Plugins --key lumarex_highlightEnabled true"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("KWin refused to load the effect")) << text.toStdString();
    EXPECT_FALSE(platform.trust().isTrusted());
}

} // namespace
