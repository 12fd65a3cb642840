// Key translation on a Wayland desktop follows the keyboard layouts of the compositor (a headless KWin),
// also when they change while the program runs; without a compositor it falls back to a US layout.
#include "platform/wayland/WaylandKeyTranslator.h"
#include "support/KWinSession.h"
#include "support/TempDir.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;
using testsupport::KWinSession;

namespace {

// Evdev key codes plus 8, as Qt's Wayland platform reports them (checked against KWin 5.27).
constexpr std::uint32_t kKeyQ = 16 + 8, kKeyY = 21 + 8;

QString textOf(const KeyTranslator& translator, std::uint32_t keyCode) {
    const auto key = translator.translate(keyCode, 0);
    return key ? key->charactersIgnoringModifiers : QStringLiteral("<none>");
}

// Points this process's Wayland clients at `kwin`, for the translator's own connection.
void useDisplayOf(const KWinSession& kwin) {
    const auto env = kwin.clientEnvironment();
    for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY"})
        qputenv(name, QByteArray::fromStdString(env.at(name)));
}

TEST(WaylandKeyTranslatorTest, KeysReadWithKWinsLayoutAndItsLaterChange) {
    KWinSession kwin({.kwinrc = "", .kxkbrc = "[Layout]\nLayoutList=de\nUse=true", .pluginDir = {}});
    useDisplayOf(kwin);
    WaylandKeyTranslator translator;
    EXPECT_EQ(textOf(translator, kKeyY), "z"); // the German layout swaps Y and Z

    // Plasma's keyboard settings write kxkbrc and tell KWin to read it again.
    std::ofstream(kwin.clientEnvironment().at("XDG_CONFIG_HOME") + "/kxkbrc")
        << "[Layout]\nLayoutList=fr\nUse=true\n";
    kwin.bus().send(QDBusMessage::createSignal("/Layouts", "org.kde.keyboard", "reloadConfig"));
    EXPECT_TRUE(KWinSession::waitUntil([&] { return textOf(translator, kKeyQ) == "a"; }, 10s))
        << "Q key: " << textOf(translator, kKeyQ).toStdString() << "\n"
        << kwin.logTail();
}

TEST(WaylandKeyTranslatorTest, WithoutACompositorItSaysSoAndReadsKeysWithAUSLayout) {
    const testsupport::TempDir runtimeDir;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtimeDir.path().string()));
    qputenv("WAYLAND_DISPLAY", "lumarex-no-such-display");
    testing::internal::CaptureStderr();
    WaylandKeyTranslator translator;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "lumarex: no connection to the Wayland compositor; shortcuts are read with a US layout\n");
    EXPECT_EQ(textOf(translator, kKeyY), "y");
}

} // namespace
