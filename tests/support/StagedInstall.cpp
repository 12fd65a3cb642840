#include "support/StagedInstall.h"

#include "support/ChildProcess.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

void runInstaller(const std::vector<std::string>& argv, const std::string& what) {
    ChildProcess install(
        {.argv = argv, .env = ChildProcess::inheritedEnvironment(), .silenceStdout = true, .extraFds = {}});
    const auto status = install.waitForExit(std::chrono::seconds(60));
    if (!status || !status->ok())
        throw std::runtime_error(what + " failed");
}

} // namespace

StagedInstall::StagedInstall(const std::string& cmake, const std::string& buildDir,
                             const std::string& component)
    : prefix_("lumarex-staged") {
    runInstaller({cmake, "--install", buildDir, "--component", component, "--prefix", prefix().string()},
                 "cmake --install of " + component);
}

StagedInstall::StagedInstall(const std::vector<std::filesystem::path>& packages) : prefix_("lumarex-staged") {
    const std::string dpkgDeb = ChildProcess::findProgram("dpkg-deb");
    for (const auto& package : packages)
        runInstaller({dpkgDeb, "--extract", package.string(), prefix_.path().string()},
                     "dpkg-deb --extract of " + package.string());
}

} // namespace testsupport
