// The extension installer against a real headless Shell that does not have the extension, with the
// program's installation and the user's folders in scratch places: what it says when it cannot install,
// and that it leaves what it finds as it was.
#include "gnome/ExtensionBus.h"
#include "platform/gnome/GnomeExtensionInstaller.h"
#include "support/GnomeShellSession.h"
#include "support/ReadOnlyFolder.h"
#include "support/StagedInstall.h"
#include "support/TempDir.h"

#include <QDBusInterface>
#include <QDBusReply>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

using testsupport::GnomeShellSession;
using testsupport::ReadOnlyFolder;
using testsupport::StagedInstall;
using testsupport::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kUuid = LUMAREX_GNOME_EXTENSION_UUID;

std::string read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class GnomeExtensionInstallerTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The flavour this machine's Shell loads, which need not be the one the build chose by default.
        staged_ =
            new StagedInstall(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, gnometest::extensionComponent());
        // The list for the next login is in GSettings, kept here in memory only: this process never writes
        // the real session's settings, and the installer says that it could not keep the list.
        qputenv("GSETTINGS_BACKEND", "memory");
    }

    static void TearDownTestSuite() {
        delete shell_;
        delete staged_;
        shell_ = nullptr;
        staged_ = nullptr;
    }

    // A Shell without the extension, started at first use and shared by the suite's tests.
    static GnomeShellSession& bareShell() {
        if (!shell_)
            shell_ = new GnomeShellSession();
        return *shell_;
    }

    GnomeExtensionInstaller::Places places(const fs::path& programData) const {
        return {QString::fromStdString((home_.path() / "data").string()),
                {},
                QString::fromStdString(programData.string())};
    }

    fs::path shellFolder() const { return home_.path() / "data/gnome-shell"; }
    fs::path userCopy() const { return shellFolder() / "extensions" / kUuid; }

    // Nothing half-made is left where the copy is assembled.
    void expectNoStaging() const {
        if (!fs::exists(shellFolder()))
            return;
        for (const auto& entry : fs::directory_iterator(shellFolder()))
            EXPECT_NE(entry.path().filename().string().rfind(".lumarex", 0), 0u) << entry.path();
    }

    static inline StagedInstall* staged_ = nullptr;
    static inline GnomeShellSession* shell_ = nullptr;
    TempDir home_{"lumarex-installer"};
};

TEST_F(GnomeExtensionInstallerTest, WhatItCannotDoItSaysAndLeavesAlone) {
    // A read-only folder is sealed by `prepare`, which returns it (to be undone after the case).
    using Prepare = std::function<std::unique_ptr<ReadOnlyFolder>(const fs::path& data)>;
    const auto sealed = [](const char* under) -> Prepare {
        return [under](const fs::path& data) {
            auto folder = std::make_unique<ReadOnlyFolder>(data / under);
            folder->seal();
            return folder;
        };
    };
    struct Case {
        const char* name;
        Prepare prepare;
        bool fromProgram;
        const char* says;
    };
    const Case cases[] = {
        {"a folder of the extension's name that holds no extension",
         [](const fs::path& data) {
             const fs::path folder = data / "gnome-shell/extensions" / kUuid;
             fs::create_directories(folder);
             std::ofstream(folder / "notes.txt") << "mine";
             return nullptr;
         },
         true, "leaves it as it is"},
        {"a data folder that cannot be written", sealed("."), true, "could not create the folder"},
        {"an extensions folder that cannot be written", sealed("gnome-shell/extensions"), true,
         "could not move its GNOME Shell extension into"},
        {"no extension next to the program", [](const fs::path&) { return nullptr; }, false,
         "cannot find its GNOME Shell extension"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home_.path() / "data");
        fs::create_directories(home_.path() / "data");
        const auto readOnly = c.prepare(home_.path() / "data");
        if (readOnly && !readOnly->unavailable().empty()) {
            ADD_FAILURE() << "no read-only folder: " << readOnly->unavailable();
            continue;
        }
        TempDir nothing("lumarex-nothing");
        GnomeExtensionInstaller installer(bareShell().bus(), LUMAREX_VERSION,
                                          places(c.fromProgram ? staged_->dataDir() : nothing.path()));
        const auto result = installer.installAndEnable();
        EXPECT_FALSE(result.active);
        EXPECT_TRUE(result.message.contains(QLatin1String(c.says))) << result.message.toStdString();
        EXPECT_FALSE(fs::exists(userCopy() / "metadata.json"));
        expectNoStaging();
        if (&c == &cases[0]) {
            EXPECT_EQ(read(userCopy() / "notes.txt"), "mine");
            EXPECT_EQ(std::distance(fs::directory_iterator(userCopy()), {}), 1);
        }
    }
}

TEST_F(GnomeExtensionInstallerTest, WithoutTheShellsBusItSaysSo) {
    GnomeExtensionInstaller installer(QDBusConnection(QStringLiteral("never-connected")), LUMAREX_VERSION,
                                      places(staged_->dataDir()));
    const auto result = installer.installAndEnable();
    EXPECT_FALSE(result.active);
    EXPECT_TRUE(result.message.contains("could not reach GNOME Shell's extension service"))
        << result.message.toStdString();
    EXPECT_FALSE(fs::exists(shellFolder()));
}

// With extensions switched off as a whole, the installed one is put on the list all the same, and the
// switch is named (not a locked list, which is how the Shell shows every extension then); it runs as soon
// as extensions are switched on again.
TEST_F(GnomeExtensionInstallerTest, ExtensionsSwitchedOffAsAWholeAreNamed) {
    GnomeShellSession shell({.extraDataDirs = {staged_->dataDir()}, .enabledExtensions = {}});
    QDBusInterface extensions("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                              shell.bus());
    ASSERT_TRUE(extensions.setProperty("UserExtensionsEnabled", false));
    GnomeExtensionInstaller installer(shell.bus(), LUMAREX_VERSION, places(staged_->dataDir()));
    const auto result = installer.installAndEnable();
    EXPECT_FALSE(result.active);
    EXPECT_TRUE(result.message.contains("switched off as a whole")) << result.message.toStdString();
    EXPECT_FALSE(result.message.contains("locked")) << result.message.toStdString();

    ASSERT_TRUE(extensions.setProperty("UserExtensionsEnabled", true));
    const auto state = [&] {
        const QDBusReply<QVariantMap> info =
            extensions.call("GetExtensionInfo", QString::fromStdString(kUuid));
        return info.isValid() ? info.value().value("state").toInt() : -1;
    };
    EXPECT_TRUE(GnomeShellSession::waitUntil([&] { return state() == 1; }, 10s)) << "state " << state();
}

// The Shell runs an older extension from the system's folders: reinstalling is the answer while the
// folder holds the old one, logging in again once it holds this version (a package upgraded meanwhile).
TEST_F(GnomeExtensionInstallerTest, AnOlderVersionRunningSaysWhatToDo) {
    TempDir system("lumarex-older");
    const fs::path folder = system.path() / "gnome-shell/extensions" / kUuid;
    fs::create_directories(folder.parent_path());
    fs::copy(staged_->dataDir() / "gnome-shell/extensions" / kUuid, folder, fs::copy_options::recursive);
    const std::string current = read(folder / "metadata.json");
    const auto withVersion = [&](const std::string& version) {
        std::string text = current;
        text.replace(text.find(LUMAREX_VERSION), std::string(LUMAREX_VERSION).size(), version);
        std::ofstream(folder / "metadata.json", std::ios::trunc) << text;
    };
    withVersion("0.9.0");
    GnomeShellSession shell(
        {.extraDataDirs = {system.path()}, .enabledExtensions = {LUMAREX_GNOME_EXTENSION_UUID}});
    GnomeExtensionInstaller installer(shell.bus(), LUMAREX_VERSION, places(staged_->dataDir()));

    auto result = installer.installAndEnable();
    EXPECT_FALSE(result.active);
    EXPECT_TRUE(result.message.contains("runs version 0.9.0") &&
                result.message.contains("Install Lumarex " LUMAREX_VERSION " again"))
        << result.message.toStdString();

    withVersion(LUMAREX_VERSION);
    result = installer.installAndEnable();
    EXPECT_FALSE(result.active);
    EXPECT_TRUE(result.message.contains("still runs version 0.9.0") &&
                result.message.contains("Log out and back in"))
        << result.message.toStdString();
    EXPECT_FALSE(fs::exists(userCopy())) << "nothing to copy while the Shell has one";
}

} // namespace
