#include "platform/wayland/WaylandKeymap.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Version 5 has everything we use (the keymap event since 1, release since 3).
constexpr std::uint32_t kSeatVersion = 5;
// Registry, seat capabilities, keyboard map: each needs the answer to the one before.
constexpr int kStartRoundTrips = 4;

} // namespace

// libwayland-client's listener tables, which call back into the object they were given.
struct WaylandKeymap::Listeners {
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto* self = static_cast<WaylandKeymap*>(data);
        if (self->seat_ || std::strcmp(interface, wl_seat_interface.name) != 0)
            return; // the first seat is the desktop's
        self->seat_ = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, kSeatVersion)));
        wl_seat_add_listener(self->seat_, &seatListener, self);
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}

    static void capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
        auto* self = static_cast<WaylandKeymap*>(data);
        if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !self->keyboard_) {
            self->keyboard_ = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(self->keyboard_, &keyboardListener, self);
        }
    }
    static void name(void*, wl_seat*, const char*) {}

    static void keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
        auto* self = static_cast<WaylandKeymap*>(data);
        std::string text;
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
            // Private and read-only: the compositor may share one file among all its clients.
            void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                const auto* chars = static_cast<const char*>(map);
                text.assign(chars, ::strnlen(chars, size)); // the size counts a terminating NUL
                ::munmap(map, size);
            }
        }
        ::close(fd);
        if (text.empty() || text == self->text_)
            return;
        self->text_ = std::move(text);
        emit self->changed();
    }
    static void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
    static void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

    static constexpr wl_registry_listener registryListener{global, globalRemove};
    static constexpr wl_seat_listener seatListener{capabilities, name};
    static constexpr wl_keyboard_listener keyboardListener{keymap, enter, leave, key, modifiers, repeatInfo};
};

WaylandKeymap::WaylandKeymap(QObject* parent) : QObject(parent) {
    display_ = wl_display_connect(nullptr);
    if (!display_) {
        problem_ = QStringLiteral("no connection to the Wayland compositor");
        return;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &Listeners::registryListener, this);
    for (int i = 0; i < kStartRoundTrips && text_.empty(); ++i)
        if (wl_display_roundtrip(display_) < 0)
            break;
    if (text_.empty()) {
        problem_ = !seat_ ? QStringLiteral("the Wayland compositor offers no seat")
                   : !keyboard_ ? QStringLiteral("the Wayland compositor's seat has no keyboard")
                                : QStringLiteral("the Wayland compositor sent no keyboard map");
        disconnect();
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &WaylandKeymap::readEvents);
}

WaylandKeymap::~WaylandKeymap() {
    disconnect();
}

void WaylandKeymap::readEvents() {
    // The socket is readable, so this reads without waiting.
    if (wl_display_dispatch(display_) >= 0)
        return;
    // The compositor went away: the last map stays.
    std::fprintf(stderr, "lumarex: lost the connection to the Wayland compositor; keyboard layout changes "
                         "are no longer followed\n");
    disconnect();
}

void WaylandKeymap::disconnect() {
    notifier_.reset();
    // Released where the compositor knows the request, so it forgets them too.
    if (keyboard_ && wl_keyboard_get_version(keyboard_) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard_);
    else if (keyboard_)
        wl_keyboard_destroy(keyboard_);
    if (seat_ && wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(seat_);
    else if (seat_)
        wl_seat_destroy(seat_);
    if (registry_)
        wl_registry_destroy(registry_);
    if (display_)
        wl_display_disconnect(display_);
    keyboard_ = nullptr;
    seat_ = nullptr;
    registry_ = nullptr;
    display_ = nullptr;
}
