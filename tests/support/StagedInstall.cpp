#include "support/StagedInstall.h"

#include "support/ChildProcess.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

StagedInstall::StagedInstall(const std::string& cmake, const std::string& buildDir,
                             const std::string& component)
    : prefix_("lumarex-staged") {
    ChildProcess install({.argv = {cmake, "--install", buildDir, "--component", component, "--prefix",
                                   (prefix_.path() / "usr").string()},
                          .env = ChildProcess::inheritedEnvironment(),
                          .silenceStdout = true,
                          .extraFds = {}});
    const auto status = install.waitForExit(std::chrono::seconds(60));
    if (!status || !status->ok())
        throw std::runtime_error("cmake --install of " + component + " failed");
}

} // namespace testsupport
