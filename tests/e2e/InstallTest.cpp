// The installed files, as `cmake --install` lays them out and as `make package` puts them in the .deb:
// checked with the desktop's own validators (desktop-file-validate, appstreamcli), man and dpkg-deb.
#include "support/AppProcess.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include "lumarex/Product.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace testsupport;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string appId = product::appId;
const std::string version = product::version;

Environment plainEnvironment() {
    Environment env;
    env["PATH"] = "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
    env["LANG"] = "C.UTF-8";
    return env;
}

AppProcess::Result run(const std::string& program, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds timeout = 120s) {
    const std::string path = ChildProcess::findProgram(program);
    if (path.empty())
        return {ExitStatus{}, "", program + " is not installed (run scripts/bootstrap)"};
    return AppProcess::run(path, arguments, plainEnvironment(), timeout);
}

std::vector<int> iconSizes() {
    std::vector<int> sizes;
    std::istringstream list(LUMAREX_ICON_SIZES);
    for (int size; list >> size;)
        sizes.push_back(size);
    return sizes;
}

// Width and height from a PNG file's header, or {0, 0}.
std::pair<int, int> pngSize(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char header[24] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (!in || header[1] != 'P' || header[2] != 'N' || header[3] != 'G')
        return {0, 0};
    auto word = [&](int at) {
        return (header[at] << 24) | (header[at + 1] << 16) | (header[at + 2] << 8) | header[at + 3];
    };
    return {word(16), word(20)};
}

std::string readFile(const fs::path& file) {
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

// One `cmake --install` of the build into a private prefix, shared by the tests of this file.
class InstallTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        prefix = std::make_unique<TempDir>("lumarex-install");
        installed =
            run(LUMAREX_CMAKE_COMMAND, {"--install", LUMAREX_BUILD_DIR, "--prefix", prefix->path().string()});
    }
    static void TearDownTestSuite() { prefix.reset(); }

    void SetUp() override { ASSERT_TRUE(installed.status.ok()) << installed.out << installed.err; }

    static fs::path share() { return prefix->path() / "share"; }

    static inline std::unique_ptr<TempDir> prefix;
    static inline AppProcess::Result installed;
};

TEST_F(InstallTest, LaysOutTheProgramAndItsDesktopFiles) {
    const fs::path program = prefix->path() / "bin" / "lumarex";
    ASSERT_TRUE(fs::exists(program));
    EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
    const auto printed = AppProcess::run(program.string(), {"--version"}, plainEnvironment());
    EXPECT_EQ(printed.out, std::string(product::name) + " " + version + "\n");
    for (const fs::path& file :
         {share() / "applications" / (appId + ".desktop"), share() / "metainfo" / (appId + ".metainfo.xml"),
          share() / "icons/hicolor/scalable/apps" / (appId + ".svg"), share() / "man/man1/lumarex.1.gz"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
}

TEST_F(InstallTest, DesktopEntryIsValidAndRunsLumarex) {
    const fs::path entry = share() / "applications" / (appId + ".desktop");
    const auto validated = run("desktop-file-validate", {entry.string()});
    EXPECT_TRUE(validated.status.ok()) << validated.out << validated.err;
    EXPECT_EQ(validated.out, "") << "no warnings or hints either";
    const std::string text = readFile(entry);
    for (const std::string& line : std::vector<std::string>{
             "\nExec=lumarex\n", "\nIcon=" + appId + "\n", "\nCategories=Utility;",
             "\nKeywords=", "\nActions=ToggleHighlight;Settings;\n",
             "[Desktop Action ToggleHighlight]\nName=Toggle Highlight\nExec=lumarex --toggle\n",
             "[Desktop Action Settings]\nName=Settings\nExec=lumarex --settings\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(InstallTest, MetainfoPassesAppstreamValidation) {
    const fs::path metainfo = share() / "metainfo" / (appId + ".metainfo.xml");
    const auto validated = run("appstreamcli", {"validate", "--no-net", "--explain", metainfo.string()});
    EXPECT_TRUE(validated.status.ok()) << validated.out << validated.err;
    const std::string text = readFile(metainfo);
    for (const std::string& part :
         {"<id>" + appId + "</id>", "<release version=\"" + version + "\"",
          std::string("<content_rating type=\"oars-1.1\">"), std::string("<screenshot type=\"default\">"),
          "<launchable type=\"desktop-id\">" + appId + ".desktop</launchable>", std::string("<description>")})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST_F(InstallTest, IconIsThereAtEverySize) {
    const auto sizes = iconSizes();
    ASSERT_FALSE(sizes.empty());
    for (int size : sizes) {
        const fs::path icon = share() / "icons/hicolor" /
                              (std::to_string(size) + "x" + std::to_string(size)) / "apps" / (appId + ".png");
        ASSERT_TRUE(fs::is_regular_file(icon)) << icon;
        EXPECT_EQ(pngSize(icon), std::make_pair(size, size)) << icon;
    }
    EXPECT_NE(readFile(share() / "icons/hicolor/scalable/apps" / (appId + ".svg")).find("<svg"),
              std::string::npos);
}

TEST_F(InstallTest, ManualPageRendersWithEveryOptionOfHelp) {
    const fs::path page = share() / "man/man1/lumarex.1.gz";
    const auto rendered = run("man", {"--warnings", "-E", "UTF-8", "-l", page.string()});
    ASSERT_TRUE(rendered.status.ok()) << rendered.err;
    EXPECT_EQ(rendered.err, "") << "groff warnings";
    const auto help =
        AppProcess::run((prefix->path() / "bin" / "lumarex").string(), {"--help"}, plainEnvironment());
    std::istringstream lines(help.out);
    int options = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  --", 0) != 0)
            continue;
        ++options;
        const std::string name = line.substr(2, line.find(' ', 2) - 2);
        EXPECT_NE(rendered.out.find(name), std::string::npos) << name << " is missing from the manual page";
    }
    EXPECT_GE(options, 8);
}

// `make package`: CPack in a scratch folder, from the same build, once for the tests of this suite.
class PackageTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch = std::make_unique<TempDir>("lumarex-package");
        packed = run(LUMAREX_CPACK_COMMAND,
                     {"--config", std::string(LUMAREX_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                      scratch->path().string()},
                     300s);
        const auto arch = run("dpkg", {"--print-architecture"});
        const std::string architecture = arch.out.substr(0, arch.out.find('\n'));
        deb = scratch->path() / ("lumarex_" + version + "_" + architecture + ".deb");
    }
    static void TearDownTestSuite() { scratch.reset(); }

    void SetUp() override {
        ASSERT_TRUE(packed.status.ok()) << packed.out << packed.err;
        ASSERT_TRUE(fs::is_regular_file(deb)) << packed.out;
    }

    static inline std::unique_ptr<TempDir> scratch;
    static inline AppProcess::Result packed;
    static inline fs::path deb;
};

TEST_F(PackageTest, DebianPackageNamesQtAndHoldsTheInstalledFiles) {
    const auto fields =
        run("dpkg-deb", {"--field", deb.string(), "Package", "Version", "Architecture", "Depends"});
    ASSERT_TRUE(fields.status.ok()) << fields.err;
    EXPECT_NE(fields.out.find("Package: lumarex\n"), std::string::npos) << fields.out;
    EXPECT_NE(fields.out.find("Version: " + version + "\n"), std::string::npos);
    for (const char* library : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6", "libqt6svg6",
                                "libx11-6", "libxi6"})
        EXPECT_NE(fields.out.find(library), std::string::npos) << library << " not in " << fields.out;

    const auto contents = run("dpkg-deb", {"--contents", deb.string()});
    ASSERT_TRUE(contents.status.ok()) << contents.err;
    std::vector<std::string> expected = {
        "./usr/bin/lumarex", "./usr/share/applications/" + appId + ".desktop",
        "./usr/share/metainfo/" + appId + ".metainfo.xml",
        "./usr/share/icons/hicolor/scalable/apps/" + appId + ".svg", "./usr/share/man/man1/lumarex.1.gz"};
    for (int size : iconSizes())
        expected.push_back("./usr/share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                           "/apps/" + appId + ".png");
    // The GNOME Shell extension, system-wide, with its compiled settings schema.
    for (const char* file :
         {"metadata.json", "extension.js", "example.quorvel.Lumarex.Shell1.xml", "schemas/gschemas.compiled"})
        expected.push_back(std::string("./usr/share/gnome-shell/extensions/") + LUMAREX_GNOME_EXTENSION_UUID +
                           "/" + file);
    for (const std::string& path : expected)
        EXPECT_NE(contents.out.find(" " + path + "\n"), std::string::npos) << path;
    EXPECT_EQ(contents.out.find("gtest"), std::string::npos) << "no test files in the package";
}

// What a Debian maintainer would check first: not one error or warning (informational tags aside).
TEST_F(PackageTest, LintianFindsNoErrorOrWarning) {
    const auto judged = run("lintian", {"--fail-on", "error,warning", deb.string()}, 300s);
    EXPECT_TRUE(judged.status.ok()) << judged.out << judged.err;
    EXPECT_EQ(judged.out, "") << "lintian's tags";
}

} // namespace
