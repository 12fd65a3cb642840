#pragma once

#include "support/CompositorSession.h"
#include "support/KWinFakeInput.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariantList>

#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

// A headless KWin (Wayland only, one virtual output, no XWayland) on its own session bus, with pointer
// and keyboard input through its fake-input protocol and screenshots through its ScreenShot2 service. Its
// namespace has its own /proc, since KWin tells its clients apart by their /proc entries. The constructor
// returns with input ready.
class KWinSession : public CompositorSession {
  public:
    struct Options {
        QSize output{1280, 800};
        // Text put into kwinrc before KWin starts (for example an effect enabled under [Plugins]).
        std::string kwinrc;
        // Text put into kxkbrc, where KWin reads the keyboard layouts ([Layout] LayoutList=de).
        std::string kxkbrc{};
        // Where KWin looks for plugins first (QT_PLUGIN_PATH); empty for the system's only.
        std::filesystem::path pluginDir;
    };

    static constexpr const char* kSocketName = "wayland-lumarex";

    // Throws std::runtime_error, with the end of KWin's log, when KWin or its input does not come up.
    explicit KWinSession(const Options& options);
    KWinSession() : KWinSession(Options{}) {}

    // The session bus, the Wayland socket and runtime folder, a private home, and a Plasma Wayland
    // session's variables.
    Environment clientEnvironment() const override;
    KWinFakeInput& input() { return *input_; }
    // 5 or 6: the running KWin's major version, the client environment's KDE_SESSION_VERSION.
    int kwinMajorVersion() const { return kwinMajorVersion_; }

    // The whole workspace as KWin composes it, without the cursor; null on failure.
    QImage screenshot();
    // Only `area` (quicker: fewer pixels through the pipe); null on failure.
    QImage screenshot(QRect area);

  private:
    QImage capture(const QString& method, const QVariantList& arguments);

    std::unique_ptr<KWinFakeInput> input_;
    int kwinMajorVersion_ = 5;
};

} // namespace testsupport
