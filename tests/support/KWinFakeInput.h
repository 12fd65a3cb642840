#pragma once

#include "support/ChildProcess.h"

#include <cstdint>
#include <memory>
#include <string>

namespace testsupport {

// Pointer and keyboard input injected into a headless KWin through its fake-input protocol, by a helper
// (lumarex-kwin-input) that runs inside KWin's PID namespace, where KWin can see it and so offers it the
// protocol. One connection is held for the object's whole life: KWin's virtual seat loses its pointer
// when the fake device goes away. Each call returns once KWin has handled the input.
// Thread-safety: one owner thread.
class KWinFakeInput {
  public:
    static constexpr std::uint32_t kLeftButton = 0x110; // BTN_LEFT
    // Linux key codes (evdev) of the keys the tests press.
    static constexpr std::uint32_t kKeyLeftShift = 42;
    static constexpr std::uint32_t kKeyLeftMeta = 125;
    static constexpr std::uint32_t kKeyH = 35;

    // `namespacePid` is a process of KWin's namespace (as we see it), `socket` the Wayland socket's
    // absolute path. Throws std::runtime_error when the helper does not get the protocol.
    KWinFakeInput(int namespacePid, const std::string& socket, const Environment& env);
    ~KWinFakeInput();
    KWinFakeInput(const KWinFakeInput&) = delete;
    KWinFakeInput& operator=(const KWinFakeInput&) = delete;

    void moveTo(double x, double y);
    void setButton(std::uint32_t button, bool pressed);
    void setKey(std::uint32_t key, bool pressed);

  private:
    // Sends one command and waits for its answer; throws std::runtime_error on an error.
    void command(const std::string& line);
    std::string readAnswer();

    int commandFd_ = -1;
    std::unique_ptr<ChildProcess> helper_;
};

} // namespace testsupport
