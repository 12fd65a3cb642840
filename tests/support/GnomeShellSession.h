#pragma once

#include "support/CompositorSession.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace testsupport {

// A headless GNOME Shell (Wayland only, one virtual monitor) on its own session bus, with pointer and
// keyboard input through the compositor's remote-desktop service and screenshots through the Shell's
// screenshot service. Its data folders are temporary too. The constructor returns with the Overview
// closed and input ready.
class GnomeShellSession : public CompositorSession {
  public:
    struct Options {
        QSize monitor{1280, 800};
        // Put in front of the system data folders (where the Shell looks for extensions and schemas).
        std::vector<std::filesystem::path> extraDataDirs;
        // Extensions to enable (by uuid) before the Shell starts.
        std::vector<QString> enabledExtensions;
    };

    static constexpr int kLeftButton = 272; // BTN_LEFT
    static constexpr std::uint32_t kEscapeKeysym = 0xff1b;

    // Throws std::runtime_error, naming the Shell's log, when the Shell or its input does not come up.
    explicit GnomeShellSession(const Options& options);
    GnomeShellSession() : GnomeShellSession(Options{}) {}

    // The session bus, the Wayland socket and runtime folder, a private home and the data folders.
    Environment clientEnvironment() const override;

    // Input is asynchronous in the compositor: check its effect by waiting on what it changes.
    void movePointer(double x, double y);
    void setButton(int button, bool pressed);
    void setKey(std::uint32_t keysym, bool pressed);
    void tapKey(std::uint32_t keysym);

    // The monitor's pixels as the Shell composes them, without the cursor; null on failure.
    QImage screenshot();
    // Only `area` (quicker: the Shell encodes fewer pixels); null on failure.
    QImage screenshot(QRect area);

    // A property of an object on the Shell's bus, asked now without introspection; invalid when the call
    // fails.
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name);

  private:
    // Starts the Shell and its bus, opens input and closes the Overview; throws std::runtime_error.
    void start(const Environment& env);
    void startInput();

    QString dataDirs_;
    QString remoteSession_;
    QString stream_;
    int shots_ = 0;
};

} // namespace testsupport
