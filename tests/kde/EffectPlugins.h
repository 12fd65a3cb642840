#pragma once

#include "support/StagedInstall.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace kdetest {

// The plugin folder from which the headless KWin loads the Lumarex effect (its QT_PLUGIN_PATH): the
// build's kwin-effect component installed under a temporary prefix (or what `stage` installs), or, when
// LUMAREX_KWIN_PLUGIN_PATH is set, the folder it names, which holds an effect built against another KWin
// (make test-desktops builds one for the KWin there). Needs the test's LUMAREX_CMAKE_COMMAND,
// LUMAREX_BUILD_DIR and LUMAREX_QT5_PLUGIN_DIR.
// Thread-safety: immutable after construction.
class EffectPlugins {
  public:
    using Stage = std::function<std::unique_ptr<testsupport::StagedInstall>()>;

    // Throws std::runtime_error when the install fails.
    explicit EffectPlugins(const Stage& stage = [] {
        return std::make_unique<testsupport::StagedInstall>(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR,
                                                            "kwin-effect");
    }) {
        if (builtElsewhere()) {
            dir_ = std::getenv("LUMAREX_KWIN_PLUGIN_PATH");
            return;
        }
        staged_ = stage();
        dir_ = staged_->prefix() / LUMAREX_QT5_PLUGIN_DIR;
    }

    // Whether the effect comes from LUMAREX_KWIN_PLUGIN_PATH rather than from this build.
    static bool builtElsewhere() {
        const char* dir = std::getenv("LUMAREX_KWIN_PLUGIN_PATH");
        return dir && *dir;
    }

    const std::filesystem::path& dir() const { return dir_; }

  private:
    std::unique_ptr<testsupport::StagedInstall> staged_;
    std::filesystem::path dir_;
};

} // namespace kdetest
