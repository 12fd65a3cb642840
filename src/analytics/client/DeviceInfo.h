// What the client reports about the machine and the application: screen size and application
// version as the application tells them, the rest read from the system. The readers take their inputs
// as text so that parsing is tested without touching the machine's files.
// Thread safety: every operation may be called from any thread; the application's values are guarded.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace veltrace {

class DeviceInfo {
  public:
    DeviceInfo() = delete;

    struct ScreenSize {
        double width = 0;
        double height = 0;
    };
    // Asked for the main screen's size in logical pixels; nothing when there is no screen.
    using ScreenSizeProvider = std::function<std::optional<ScreenSize>()>;

    // Set by the application before its first event; changing either recomputes the automatic
    // properties. Without a provider, records carry no screen size.
    static void setScreenSizeProvider(ScreenSizeProvider provider);
    static void setApplicationVersion(std::optional<std::string> version,
                                      std::optional<std::string> buildNumber);

    static std::optional<ScreenSize> mainScreenSize();
    static std::optional<std::string> applicationVersion();
    static std::optional<std::string> applicationBuildNumber();

    // PRETTY_NAME from /etc/os-release (or /usr/lib/os-release); else the kernel's name and release.
    static std::string osVersion();
    // The kernel's machine name (uname), e.g. "x86_64".
    static std::string machine();
    // /sys/class/dmi/id/sys_vendor, when readable and not empty.
    static std::optional<std::string> manufacturer();
    // An id for this machine that is stable but specific to this client: derived from /etc/machine-id
    // by HMAC-SHA256, so the raw id never leaves the machine. Nothing when there is no machine id.
    static std::optional<std::string> hardwareSerial();

    // The unquoted PRETTY_NAME of an os-release text; nothing when it has none.
    static std::optional<std::string> prettyName(std::string_view osRelease);
    // The application-specific id for a machine-id text (surrounding white space ignored); nothing
    // when the text is not 32 hexadecimal digits.
    static std::optional<std::string> applicationSpecificId(std::string_view machineId);
};

} // namespace veltrace
