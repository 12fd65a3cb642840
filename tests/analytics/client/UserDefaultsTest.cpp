#include "client/UserDefaults.h"
#include "client/Directories.h"

#include "LogCapture.h"
#include "TempXdgHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>

using namespace veltrace;
using veltrace::test::LogCapture;
using veltrace::test::TempXdgHome;

namespace {

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

} // namespace

TEST(DirectoriesTest, FollowsTheXdgVariablesElseTheHomeFolder) {
    TempXdgHome home;
    EXPECT_EQ(Directories::cachesDirectory(), home.caches());
    EXPECT_EQ(Directories::configDirectory(), home.config());

    const char* previous = std::getenv("HOME");
    const std::optional<std::string> oldHome = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("HOME", home.root().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", "relative/ignored", 1);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Directories::cachesDirectory(), home.root() / ".cache");
    EXPECT_EQ(Directories::configDirectory(), home.root() / ".config");
    if (oldHome)
        ::setenv("HOME", oldHome->c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST(UserDefaultsTest, ValuesPersistWithTheirKind) {
    TempXdgHome home;
    {
        auto defaults = UserDefaults::open("Veltrace");
        ASSERT_TRUE(defaults);
        defaults->setString("name", "ada");
        defaults->setBool("flag", false);
        defaults->setData("blob", Bytes("\0\1\2", 3));
        defaults->setData("empty", Bytes());
        defaults->setString("gone", "x");
        // Pending changes are visible to their own object before they are written.
        EXPECT_EQ(defaults->string("name"), "ada");
        EXPECT_TRUE(defaults->synchronize());
        defaults->remove("gone");
        defaults->setString("unsynced", "written when the object ends");
    }
    auto reopened = UserDefaults::open("Veltrace");
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->string("name"), "ada");
    EXPECT_EQ(reopened->boolean("flag"), false);
    EXPECT_EQ(reopened->data("blob"), Bytes("\0\1\2", 3));
    EXPECT_EQ(reopened->data("empty"), Bytes());
    EXPECT_FALSE(reopened->contains("gone"));
    EXPECT_EQ(reopened->string("unsynced"), "written when the object ends");
    // Read as another kind, a value is missing.
    EXPECT_FALSE(reopened->boolean("name"));
    EXPECT_FALSE(reopened->string("flag"));
    EXPECT_FALSE(reopened->string("blob"));
    EXPECT_FALSE(reopened->data("name"));
}

TEST(UserDefaultsTest, SuiteIsPrivateToTheUser) {
    TempXdgHome home;
    const mode_t oldMask = ::umask(022);
    std::filesystem::remove_all(home.config());
    auto defaults = UserDefaults::open("Veltrace");
    ::umask(oldMask);
    ASSERT_TRUE(defaults);
    defaults->setString("k", "v");
    ASSERT_TRUE(defaults->synchronize());
    const auto path = UserDefaults::pathForSuite("Veltrace").value();
    EXPECT_EQ(path, home.config() / "veltrace" / "Veltrace.sqlite");
    EXPECT_EQ(modeOf(home.config()), 0700u);
    EXPECT_EQ(modeOf(path.parent_path()), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);

    // A folder and file left readable by an earlier version are narrowed.
    defaults.reset();
    ::chmod(path.parent_path().c_str(), 0755);
    ::chmod(path.c_str(), 0644);
    ASSERT_TRUE(UserDefaults::open("Veltrace"));
    EXPECT_EQ(modeOf(path.parent_path()), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);
}

// A damaged suite must not keep every later launch from storing its identity: it is kept aside and a
// fresh suite takes its place.
TEST(UserDefaultsTest, GarbageSuiteFileIsKeptAsideAndAFreshSuiteStarts) {
    TempXdgHome home;
    const auto path = UserDefaults::pathForSuite("Veltrace").value();
    std::filesystem::create_directories(path.parent_path());
    const std::string garbage(4096, 'x');
    std::ofstream(path) << garbage;
    LogCapture log;
    auto defaults = UserDefaults::open("Veltrace");
    ASSERT_TRUE(defaults);
    const auto messages = log.take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, LogLevel::error);
    EXPECT_NE(messages[0].text.find(path.string() + ".corrupt"), std::string::npos) << messages[0].text;
    EXPECT_NE(messages[0].text.find("not a database"), std::string::npos) << messages[0].text;

    std::ifstream kept(path.string() + ".corrupt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), garbage);
    defaults->setString("identity", "kept");
    ASSERT_TRUE(defaults->synchronize());
    defaults.reset();
    EXPECT_EQ(UserDefaults::open("Veltrace")->string("identity"), "kept");
}

// Two objects on one suite file, each on its own thread, as two processes would use it: every write
// lands, and a change written in one synchronize() is never seen half-done.
TEST(UserDefaultsTest, TwoObjectsOnOneSuiteFileAtOnce) {
    TempXdgHome home;
    ASSERT_TRUE(UserDefaults::open("Veltrace"));
    constexpr int rounds = 150;
    std::atomic<bool> torn{false};
    std::atomic<bool> failed{false};

    std::thread writer([&] {
        for (int i = 1; i <= rounds; ++i) {
            auto defaults = UserDefaults::open("Veltrace");
            if (!defaults) {
                failed = true;
                return;
            }
            defaults->setString("first", std::to_string(i));
            defaults->setString("second", std::to_string(i));
            defaults->setBool("writer-" + std::to_string(i), true);
            if (!defaults->synchronize())
                failed = true;
        }
    });
    std::thread other([&] {
        for (int i = 1; i <= rounds; ++i) {
            auto defaults = UserDefaults::open("Veltrace");
            if (!defaults) {
                failed = true;
                return;
            }
            // "second" is read after "first" and written in the same transaction, so it is never older.
            const int first = std::stoi(defaults->string("first").value_or("0"));
            const int second = std::stoi(defaults->string("second").value_or("0"));
            if (second < first)
                torn = true;
            defaults->setData("other-" + std::to_string(i), Bytes(1, char(i)));
            if (!defaults->synchronize())
                failed = true;
        }
    });
    writer.join();
    other.join();
    EXPECT_FALSE(failed);
    EXPECT_FALSE(torn);

    auto defaults = UserDefaults::open("Veltrace");
    ASSERT_TRUE(defaults);
    for (int i = 1; i <= rounds; ++i) {
        EXPECT_EQ(defaults->boolean("writer-" + std::to_string(i)), true) << i;
        EXPECT_EQ(defaults->data("other-" + std::to_string(i)), Bytes(1, char(i))) << i;
    }
}
