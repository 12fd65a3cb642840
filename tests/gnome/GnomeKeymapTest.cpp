// Key translation on GNOME follows the keyboard layouts the Shell gives its Wayland clients, when the
// user's input sources change while the program runs.
#include "platform/wayland/WaylandKeyTranslator.h"
#include "support/ChildProcess.h"
#include "support/GnomeShellSession.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::GnomeShellSession;

namespace {

constexpr std::uint32_t kKeyY = 21 + 8; // evdev plus 8, as Qt's Wayland platform reports it

QString textOf(const KeyTranslator& translator, std::uint32_t keyCode) {
    const auto key = translator.translate(keyCode, 0);
    return key ? key->charactersIgnoringModifiers : QStringLiteral("<none>");
}

TEST(GnomeKeymapTest, KeysFollowTheInputSourcesOfTheShell) {
    GnomeShellSession shell;
    testsupport::Environment env = ChildProcess::inheritedEnvironment();
    for (const auto& [name, value] : shell.clientEnvironment())
        env[name] = value;
    for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY"})
        qputenv(name, QByteArray::fromStdString(env.at(name)));
    WaylandKeyTranslator translator;
    EXPECT_EQ(textOf(translator, kKeyY), "y");

    // As GNOME's settings do: the Shell compiles a keymap from the input sources and sends it.
    ChildProcess gsettings({.argv = {"/usr/bin/gsettings", "set", "org.gnome.desktop.input-sources", "sources",
                                     "[('xkb', 'de')]"},
                            .env = env,
                            .extraFds = {}});
    const auto status = gsettings.waitForExit(10s);
    ASSERT_TRUE(status && status->ok());
    EXPECT_TRUE(GnomeShellSession::waitUntil([&] { return textOf(translator, kKeyY) == "z"; }, 10s))
        << textOf(translator, kKeyY).toStdString();
}

} // namespace
