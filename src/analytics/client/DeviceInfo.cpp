#include "client/DeviceInfo.h"

#include "client/AutomaticProperties.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

namespace veltrace {

namespace {

std::mutex applicationMutex;
DeviceInfo::ScreenSizeProvider screenProvider;   // guarded by applicationMutex
std::optional<std::string> appVersion, appBuild; // guarded by applicationMutex

// The client's own key: the same machine gets another id in every program that derives one.
constexpr std::string_view machineIdKey = "veltrace.device-id.v1:c3b1f0e2a9d84e67";

std::optional<std::string> readSmallFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string text(4096, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    return text;
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// An os-release value: optionally quoted, with backslash escapes inside quotes.
std::string unquoted(std::string_view value) {
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\''))
        return std::string(value);
    const char quote = value.front();
    std::string out;
    for (size_t i = 1; i < value.size() && value[i] != quote; ++i) {
        if (value[i] == '\\' && quote == '"' && i + 1 < value.size())
            ++i;
        out += value[i];
    }
    return out;
}

} // namespace

void DeviceInfo::setScreenSizeProvider(ScreenSizeProvider provider) {
    {
        std::lock_guard lock(applicationMutex);
        screenProvider = std::move(provider);
    }
    AutomaticProperties::invalidate();
}

void DeviceInfo::setApplicationVersion(std::optional<std::string> version,
                                       std::optional<std::string> buildNumber) {
    {
        std::lock_guard lock(applicationMutex);
        appVersion = std::move(version);
        appBuild = std::move(buildNumber);
    }
    AutomaticProperties::invalidate();
}

std::optional<DeviceInfo::ScreenSize> DeviceInfo::mainScreenSize() {
    ScreenSizeProvider provider;
    {
        std::lock_guard lock(applicationMutex);
        provider = screenProvider;
    }
    // Called outside the lock: a provider may take its time (or ask another thread).
    return provider ? provider() : std::nullopt;
}

std::optional<std::string> DeviceInfo::applicationVersion() {
    std::lock_guard lock(applicationMutex);
    return appVersion;
}

std::optional<std::string> DeviceInfo::applicationBuildNumber() {
    std::lock_guard lock(applicationMutex);
    return appBuild;
}

std::optional<std::string> DeviceInfo::prettyName(std::string_view osRelease) {
    std::istringstream lines{std::string(osRelease)};
    std::string line;
    while (std::getline(lines, line)) {
        const auto entry = trimmed(line);
        if (entry.starts_with("PRETTY_NAME=")) {
            auto name = unquoted(trimmed(entry.substr(12)));
            if (!name.empty())
                return name;
        }
    }
    return std::nullopt;
}

std::string DeviceInfo::osVersion() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (auto text = readSmallFile(path))
            if (auto name = prettyName(*text))
                return *name;
    }
    struct utsname system {};
    if (::uname(&system) == 0)
        return std::string(system.sysname) + " " + system.release;
    return "Linux";
}

std::string DeviceInfo::machine() {
    struct utsname system {};
    return ::uname(&system) == 0 ? std::string(system.machine) : std::string();
}

std::optional<std::string> DeviceInfo::manufacturer() {
    auto text = readSmallFile("/sys/class/dmi/id/sys_vendor");
    if (!text)
        return std::nullopt;
    const auto vendor = trimmed(*text);
    return vendor.empty() ? std::nullopt : std::optional(std::string(vendor));
}

std::optional<std::string> DeviceInfo::applicationSpecificId(std::string_view machineId) {
    const auto id = trimmed(machineId);
    if (id.size() != 32 || !std::all_of(id.begin(), id.end(),
                                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), machineIdKey.data(), static_cast<int>(machineIdKey.size()),
              reinterpret_cast<const unsigned char*>(id.data()), id.size(), digest, &length) ||
        length < 16)
        return std::nullopt;
    // The first 128 bits, written like a UUID.
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  digest[0], digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7],
                  digest[8], digest[9], digest[10], digest[11], digest[12], digest[13], digest[14],
                  digest[15]);
    return std::string(text);
}

std::optional<std::string> DeviceInfo::hardwareSerial() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        if (auto text = readSmallFile(path))
            if (auto id = applicationSpecificId(*text))
                return id;
    }
    return std::nullopt;
}

} // namespace veltrace
