// The installed files, as `cmake --install` lays them out and as `make package` puts them in the .deb:
// checked with the desktop's own validators (desktop-file-validate, appstreamcli), man and dpkg-deb.
#include "support/AppProcess.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include "lumarex/Product.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
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

// What one package of `make package` must hold and depend on, and what it must not.
struct PackageExpectation {
    std::string name;
    fs::path deb;
    std::vector<std::string> fields;     // whole lines of its control fields
    std::vector<std::string> depends;    // parts of its Depends field
    std::vector<std::string> notDepends; // parts that must not be in it
    std::vector<std::string> files;      // paths in it, as dpkg-deb --contents lists them
    std::vector<std::string> notFiles;   // parts of no path in it
};

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// Where Qt 5 loads plugins from, and so KWin 5 its effects (under kwin/effects/plugins), as Qt 5 says.
std::string qt5PluginDir() {
    return firstLine(run("qmake", {"-qt=5", "-query", "QT_INSTALL_PLUGINS"}).out);
}

// The packages `make package` makes here.
std::vector<std::string> packageNames() {
#ifdef LUMAREX_KWIN_EFFECT_DEB
    return {"lumarex", product::kwinEffectPackage};
#else
    return {"lumarex"};
#endif
}

PackageExpectation expectation(const std::string& name) {
    PackageExpectation app{.name = "lumarex", .deb = LUMAREX_APP_DEB};
    app.fields = {"Package: lumarex", "Version: " + version};
    app.depends = {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6", "libqt6svg6", "libx11-6",
                   "libxi6"};
    // KWin's and Qt 5's libraries come only with the effect's package, for those who take it.
    app.notDepends = {"kwin", "libqt5"};
    app.files = {"./usr/bin/lumarex", "./usr/share/applications/" + appId + ".desktop",
                 "./usr/share/metainfo/" + appId + ".metainfo.xml",
                 "./usr/share/icons/hicolor/scalable/apps/" + appId + ".svg", "./usr/share/man/man1/lumarex.1.gz"};
    for (int size : iconSizes())
        app.files.push_back("./usr/share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                            "/apps/" + appId + ".png");
    // The GNOME Shell extension, system-wide, with its compiled settings schema.
    for (const char* file :
         {"metadata.json", "extension.js", "example.quorvel.Lumarex.Shell1.xml", "schemas/gschemas.compiled"})
        app.files.push_back(std::string("./usr/share/gnome-shell/extensions/") + LUMAREX_GNOME_EXTENSION_UUID +
                            "/" + file);
    app.notFiles = {"/kwin/", "gtest"};
#ifdef LUMAREX_KWIN_EFFECT_DEB
    const std::string effectPackage = product::kwinEffectPackage;
    app.fields.push_back("Suggests: " + effectPackage);
    PackageExpectation effect{.name = effectPackage, .deb = LUMAREX_KWIN_EFFECT_DEB};
    effect.fields = {"Package: " + effectPackage, "Version: " + version};
    // Bound to the application of the same version and to KWin's release series.
    effect.depends = {"lumarex (= " + version + ")", "libkwineffects", "libkwinglutils", "libqt5core5a",
                      "kwin-common (>= ", "kwin-common (<< "};
    effect.notDepends = {"libqt6"};
    effect.files = {"." + qt5PluginDir() + "/kwin/effects/plugins/" LUMAREX_KWIN_EFFECT_ID ".so"};
    effect.notFiles = {"./usr/bin/", "/gnome-shell/", "/applications/"};
    if (name == effectPackage)
        return effect;
#endif
    return app;
}

// The packages fixture's .debs (made once per test run by CPack, as `make package` makes them).
class PackageTest : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        package = expectation(GetParam());
        ASSERT_TRUE(fs::is_regular_file(package.deb)) << package.deb << " (made by the test packages)";
    }

    PackageExpectation package;
};

TEST_P(PackageTest, HoldsItsFilesAndDependsOnItsLibrariesOnly) {
    const auto fields = run("dpkg-deb", {"--field", package.deb.string()});
    ASSERT_TRUE(fields.status.ok()) << fields.err;
    for (const std::string& line : package.fields)
        EXPECT_NE(("\n" + fields.out).find("\n" + line + "\n"), std::string::npos) << line << " not in " << fields.out;
    const std::string depends = run("dpkg-deb", {"--field", package.deb.string(), "Depends"}).out;
    for (const std::string& part : package.depends)
        EXPECT_NE(depends.find(part), std::string::npos) << part << " not in " << depends;
    for (const std::string& part : package.notDepends)
        EXPECT_EQ(depends.find(part), std::string::npos) << part << " in " << depends;

    const auto contents = run("dpkg-deb", {"--contents", package.deb.string()});
    ASSERT_TRUE(contents.status.ok()) << contents.err;
    for (const std::string& path : package.files)
        EXPECT_NE(contents.out.find(" " + path + "\n"), std::string::npos) << path << " not in " << contents.out;
    for (const std::string& part : package.notFiles)
        EXPECT_EQ(contents.out.find(part), std::string::npos) << part << " in " << contents.out;
}

// What a Debian maintainer would check first: not one error or warning (informational tags aside).
TEST_P(PackageTest, LintianFindsNoErrorOrWarning) {
    const auto judged = run("lintian", {"--fail-on", "error,warning", package.deb.string()}, 300s);
    EXPECT_TRUE(judged.status.ok()) << judged.out << judged.err;
    EXPECT_EQ(judged.out, "") << "lintian's tags";
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageTest, testing::ValuesIn(packageNames()), [](const auto& info) {
    std::string name = info.param;
    std::erase(name, '-');
    return name;
});

#ifdef LUMAREX_KWIN_EFFECT_DEB
// The paths a package puts files (not folders) at.
std::set<std::string> filesOf(const fs::path& deb) {
    std::set<std::string> files;
    std::istringstream lines(run("dpkg-deb", {"--contents", deb.string()}).out);
    for (std::string line; std::getline(lines, line);) {
        const auto path = line.find(" ./");
        if (line.starts_with('d') || path == std::string::npos)
            continue;
        files.insert(line.substr(path + 1, line.find(" -> ") - path - 1));
    }
    return files;
}

// Both packages go in together on this machine (the exact version and KWin's series are met), and dpkg
// would not refuse the second for a file the first already holds.
TEST(PackagesTogether, InstallSideBySideWithoutSharingAFile) {
    const auto resolved =
        run("apt-get", {"install", "--simulate", "--no-install-recommends", LUMAREX_APP_DEB, LUMAREX_KWIN_EFFECT_DEB});
    EXPECT_TRUE(resolved.status.ok()) << resolved.out << resolved.err;
    EXPECT_NE(resolved.out.find("Inst " + std::string(product::kwinEffectPackage) + " "), std::string::npos)
        << resolved.out;

    const auto app = filesOf(LUMAREX_APP_DEB);
    const auto effect = filesOf(LUMAREX_KWIN_EFFECT_DEB);
    ASSERT_FALSE(app.empty());
    ASSERT_FALSE(effect.empty());
    std::vector<std::string> shared;
    std::ranges::set_intersection(app, effect, std::back_inserter(shared));
    EXPECT_TRUE(shared.empty()) << "in both packages: " << shared.front();
}
#endif

} // namespace
