// lumarex-kwin-input SOCKET: pointer and keyboard input for a headless KWin through its fake-input Wayland
// protocol. KWin offers the protocol only to clients it can see, so KWinFakeInput starts this inside
// KWin's PID namespace. It reads one command a line from standard input and answers each with "ok" once
// KWin has handled it (or "error ..."):
//   move X Y          absolute pointer motion
//   button CODE 1|0   press or release a button (Linux input code, 272 is the left button)
//   key CODE 1|0      press or release a key (Linux input code)
// The one connection stays open until standard input ends: KWin's virtual seat loses its pointer when
// the fake device goes away.
#include "fake-input-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// Absolute motion came with version 3, keys with 4.
constexpr std::uint32_t kWantedVersion = 4;

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) != 0)
        return;
    *static_cast<org_kde_kwin_fake_input**>(data) = static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
        registry, name, &org_kde_kwin_fake_input_interface, std::min(version, kWantedVersion)));
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

void answer(const std::string& line) {
    std::cout << line << std::endl;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumarex-kwin-input SOCKET\n");
        return 2;
    }
    wl_display* display = wl_display_connect(argv[1]);
    if (!display) {
        answer(std::string("error cannot connect to ") + argv[1]);
        return 1;
    }
    org_kde_kwin_fake_input* input = nullptr;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &input);
    wl_display_roundtrip(display);
    if (!input) {
        answer("error the compositor offers no org_kde_kwin_fake_input");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "lumarex tests", "end-to-end tests");
    if (wl_display_roundtrip(display) < 0) {
        answer("error the compositor closed the connection");
        return 1;
    }
    answer("ok");
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            double x = 0, y = 0;
            words >> x >> y;
            org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_double(x), wl_fixed_from_double(y));
        } else if (command == "button" || command == "key") {
            std::uint32_t code = 0, pressed = 0;
            words >> code >> pressed;
            if (command == "button")
                org_kde_kwin_fake_input_button(input, code, pressed);
            else
                org_kde_kwin_fake_input_keyboard_key(input, code, pressed);
        } else {
            answer("error unknown command " + command);
            continue;
        }
        if (!words || wl_display_roundtrip(display) < 0) {
            answer(words ? "error the compositor closed the connection" : "error bad arguments: " + line);
            continue;
        }
        answer("ok");
    }
    org_kde_kwin_fake_input_destroy(input);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
