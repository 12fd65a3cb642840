#include "platform/x11/X11PointerTracker.h"

#include "platform/x11/X11ErrorRouter.h"

#include <xcb/xcb.h>

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr int leftButton = 1;
constexpr unsigned pressBit = 1;
constexpr unsigned motionBit = 2;
constexpr std::uint8_t xcbError = 0;
constexpr std::uint8_t xcbGenericEvent = 35;

// One read takes every expiration or wake-up counted so far.
void drain(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
}

// The first 32 bytes of an XInput 2 raw event as they come off the wire; xcb keeps them in place.
struct RawEventHead {
    std::uint8_t responseType;
    std::uint8_t extension;
    std::uint16_t sequence;
    std::uint32_t length;
    std::uint16_t eventType;
    std::uint16_t deviceId;
    std::uint32_t time;
    std::uint32_t detail;
};

void freeReply(void* reply) {
    std::free(reply);
}

} // namespace

void X11PointerTracker::DisplayCloser::operator()(Display* display) const {
    XCloseDisplay(display);
}

X11PointerTracker::X11PointerTracker(const std::string& displayName, std::function<void()> onConnectionLost,
                                     Timing timing)
    : timing_(timing), onConnectionLost_(std::move(onConnectionLost)) {
    // Two threads speak Xlib from now on, each on its own connection; Xlib's globals need its locks.
    XInitThreads();
    X11ErrorRouter::install();
    display_.reset(XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str()));
    if (!display_)
        return;
    Display* display = display_.get();
    int event = 0, error = 0, opcode = 0, major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success)
        return;
    xinputOpcode_ = opcode;
    // Per-frame requests go out through xcb, which is leaner than Xlib's locking and reading around each
    // call; so events (and errors) are read through xcb too, from its own queue.
    XSetEventQueueOwner(display, XCBOwnsEventQueue);
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (timerFd_ < 0 || wakeFd_ < 0)
        return;
    // Xlib's default ends the process when a connection breaks; this one only ends the thread.
    XSetIOErrorExitHandler(
        display, [](Display*, void*) {}, nullptr);
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

X11PointerTracker::~X11PointerTracker() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            wanted_.stop = true;
        }
        wake();
        thread_.join();
    }
    // Xlib keeps a broken connection locked for good after its I/O error, so closing it would hang; the
    // server is gone and with it everything the connection held.
    if (display_ && (broken_ || xcb_connection_has_error(XGetXCBConnection(display_.get()))))
        static_cast<void>(display_.release());
    if (timerFd_ >= 0)
        ::close(timerFd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void X11PointerTracker::follow(unsigned long window, int width, int height) {
    {
        std::lock_guard lock(mutex_);
        wanted_.window = window;
        wanted_.width = width;
        wanted_.height = height;
    }
    wake();
}

void X11PointerTracker::stopFollowing() {
    {
        std::lock_guard lock(mutex_);
        wanted_.window = 0;
    }
    waitForAcknowledgement();
}

void X11PointerTracker::watchPresses(std::function<void()> onLeftPress) {
    const bool watched = static_cast<bool>(onLeftPress);
    {
        std::lock_guard lock(handlerMutex_);
        onLeftPress_ = std::move(onLeftPress);
    }
    {
        std::lock_guard lock(mutex_);
        wanted_.pressesWatched = watched;
    }
    wake();
}

void X11PointerTracker::sync() {
    waitForAcknowledgement();
}

bool X11PointerTracker::waitUntilResting(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return resting_.load() || !running_.load(); }) &&
           resting_.load();
}

void X11PointerTracker::waitForAcknowledgement() {
    std::unique_lock lock(mutex_);
    if (!running_)
        return;
    const std::uint64_t ticket = ++requests_;
    lock.unlock();
    wake();
    lock.lock();
    changed_.wait(lock, [&] { return acknowledged_ >= ticket || !running_.load(); });
}

void X11PointerTracker::wake() {
    if (wakeFd_ < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void X11PointerTracker::run() {
    xcb_connection_t* xcb = XGetXCBConnection(display_.get());
    const int xfd = xcb_get_file_descriptor(xcb);
    for (;;) {
        applyWanted();
        if (current_.stop)
            break;
        selectEvents();
        if (xcb_connection_has_error(xcb)) {
            connectionLost();
            break;
        }
        // A reply's wait may have read events into xcb's queue, which poll() would not announce.
        if (handleEvents(false))
            continue;
        pollfd fds[3] = {{xfd, POLLIN, 0}, {timerFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            connectionLost();
            break;
        }
        if (fds[2].revents & POLLIN)
            drain(wakeFd_);
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) || xcb_connection_has_error(xcb)) {
            connectionLost();
            break;
        }
        if (fds[0].revents & POLLIN)
            handleEvents(true);
        if (fds[1].revents & POLLIN) {
            drain(timerFd_);
            if (mode_ != Mode::Idle)
                frame(false);
        }
    }
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    changed_.notify_all();
}

void X11PointerTracker::applyWanted() {
    Wanted wanted;
    std::uint64_t requests = 0;
    {
        std::lock_guard lock(mutex_);
        wanted = wanted_;
        requests = requests_;
    }
    // A window found gone stays unfollowed until another one is given.
    if (wanted.window == lostWindow_)
        wanted.window = 0;
    const bool windowChanged = wanted.window != current_.window;
    const bool sizeChanged = wanted.width != current_.width || wanted.height != current_.height;
    current_ = wanted;
    if (!current_.window || current_.stop) {
        setMode(Mode::Idle);
    } else if (windowChanged || sizeChanged) {
        setMode(Mode::Moving);
        frame(true);
    }
    selectEvents();
    std::uint64_t acknowledged = 0;
    {
        std::lock_guard lock(mutex_);
        acknowledged = acknowledged_;
    }
    if (requests == acknowledged)
        return;
    // Everything sent (the selection too) has reached the server, and whatever it had for us is handled.
    xcb_connection_t* xcb = XGetXCBConnection(display_.get());
    freeReply(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr));
    handleEvents(false);
    {
        std::lock_guard lock(mutex_);
        acknowledged_ = requests;
    }
    changed_.notify_all();
}

bool X11PointerTracker::handleEvents(bool read) {
    xcb_connection_t* xcb = XGetXCBConnection(display_.get());
    bool any = false;
    bool moved = false;
    for (;;) {
        // Reads the socket once at most: after that everything is queued.
        xcb_generic_event_t* event = read ? xcb_poll_for_event(xcb) : xcb_poll_for_queued_event(xcb);
        read = false;
        if (!event)
            break;
        any = true;
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == xcbError) {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
            handleError(error->error_code, error->resource_id, error->major_code, error->minor_code);
        } else if (type == xcbGenericEvent) {
            const auto* raw = reinterpret_cast<const RawEventHead*>(event);
            if (raw->extension == xinputOpcode_ && raw->eventType == XI_RawButtonPress &&
                raw->detail == leftButton && current_.pressesWatched) {
                std::lock_guard lock(handlerMutex_);
                if (onLeftPress_)
                    onLeftPress_();
            } else if (raw->extension == xinputOpcode_ && raw->eventType == XI_RawMotion) {
                moved = true;
            }
        }
        freeReply(event);
    }
    // However many motion events came, one frame; the frame timer takes over from there.
    if (moved && mode_ == Mode::Resting)
        frame(false);
    return any;
}

void X11PointerTracker::handleError(int code, unsigned long resource, int request, int minorRequest) {
    // A move sent before we learnt that the window is gone; anything else is a real fault.
    if (code == BadWindow && resource && resource == current_.window) {
        windowLost_ = true;
        return;
    }
    if (code == BadWindow && resource && resource == lostWindow_)
        return;
    char text[256] = {};
    XGetErrorText(display_.get(), code, text, sizeof text);
    std::fprintf(stderr, "lumarex: X error: %s (request %d.%d)\n", text, request, minorRequest);
}

void X11PointerTracker::frame(bool force) {
    xcb_connection_t* xcb = XGetXCBConnection(display_.get());
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(xcb, xcb_query_pointer(xcb, DefaultRootWindow(display_.get())), nullptr);
    const bool onScreen = reply && reply->same_screen;
    const int rootX = reply ? reply->root_x : 0;
    const int rootY = reply ? reply->root_y : 0;
    freeReply(reply);
    // Errors of earlier moves were read before the reply.
    handleEvents(false);
    if (windowLost_) {
        windowLost_ = false;
        lostWindow_ = current_.window;
        current_.window = 0;
        setMode(Mode::Idle);
        return;
    }
    const bool moved = !haveLast_ || rootX != lastX_ || rootY != lastY_;
    if (!onScreen || (!moved && !force)) {
        if (mode_ == Mode::Moving && ++stillFrames_ >= timing_.stillFramesBeforeRest)
            setMode(Mode::Resting);
        return;
    }
    haveLast_ = true;
    lastX_ = rootX;
    lastY_ = rootY;
    stillFrames_ = 0;
    setMode(Mode::Moving);
    // Move and raise in one request: nothing manages an override-redirect window's stacking, so it has to
    // stay above windows mapped since.
    const std::uint32_t values[] = {static_cast<std::uint32_t>(rootX - current_.width / 2),
                                    static_cast<std::uint32_t>(rootY - current_.height / 2),
                                    XCB_STACK_MODE_ABOVE};
    xcb_configure_window(xcb, static_cast<xcb_window_t>(current_.window),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_STACK_MODE, values);
    xcb_flush(xcb);
    moves_.fetch_add(1);
}

void X11PointerTracker::setMode(Mode mode) {
    if (mode == mode_)
        return;
    mode_ = mode;
    stillFrames_ = 0;
    switch (mode) {
    case Mode::Idle:
        armTimer(std::chrono::nanoseconds(0));
        break;
    case Mode::Moving:
        armTimer(timing_.frame);
        break;
    case Mode::Resting:
        armTimer(timing_.restPoll);
        break;
    }
    {
        std::lock_guard lock(mutex_);
        resting_ = mode == Mode::Resting;
    }
    changed_.notify_all();
}

void X11PointerTracker::armTimer(std::chrono::nanoseconds period) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(period);
    itimerspec spec = {};
    spec.it_interval.tv_sec = seconds.count();
    spec.it_interval.tv_nsec = (period - seconds).count();
    spec.it_value = spec.it_interval;
    timerfd_settime(timerFd_, 0, &spec, nullptr);
    drain(timerFd_);
}

// Raw motion only while resting: a moving pointer would otherwise wake us for every device report.
void X11PointerTracker::selectEvents() {
    const unsigned wanted =
        (current_.pressesWatched ? pressBit : 0) | (mode_ == Mode::Resting ? motionBit : 0);
    if (wanted == selectedMask_)
        return;
    selectedMask_ = wanted;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (wanted & pressBit)
        XISetMask(bits, XI_RawButtonPress);
    if (wanted & motionBit)
        XISetMask(bits, XI_RawMotion);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display_.get(), DefaultRootWindow(display_.get()), &mask, 1);
    XFlush(display_.get());
}

void X11PointerTracker::connectionLost() {
    broken_ = true;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        resting_ = false;
    }
    changed_.notify_all();
    X11ErrorRouter::reportBrokenConnection(DisplayString(display_.get()));
    if (onConnectionLost_)
        onConnectionLost_();
}
