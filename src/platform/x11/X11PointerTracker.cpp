#include "platform/x11/X11PointerTracker.h"

#include "platform/x11/X11ErrorRouter.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr int leftButton = 1;
constexpr unsigned pressBit = 1;
constexpr unsigned motionBit = 2;

void drain(int fd) {
    std::uint64_t count = 0;
    while (::read(fd, &count, sizeof count) > 0) {
    }
}

} // namespace

void X11PointerTracker::DisplayCloser::operator()(Display* display) const { XCloseDisplay(display); }

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
    if (display_ && xcb_connection_has_error(XGetXCBConnection(display_.get())))
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

void X11PointerTracker::sync() { waitForAcknowledgement(); }

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
    Display* display = display_.get();
    X11ErrorRouter::setHandler(display, [this](const X11ErrorRouter::Error& error) {
        // A move sent before we learnt that the window is gone; anything else is a real fault.
        if (error.code != BadWindow || !error.resource)
            return false;
        if (error.resource == current_.window)
            windowLost_ = true;
        return error.resource == current_.window || error.resource == lostWindow_;
    });
    xcb_connection_t* xcb = XGetXCBConnection(display);
    const int xfd = ConnectionNumber(display);
    for (;;) {
        applyWanted();
        if (current_.stop)
            break;
        selectEvents();
        XFlush(display);
        if (xcb_connection_has_error(xcb)) {
            connectionLost();
            break;
        }
        // A round trip may have left events in Xlib's queue, which poll() would not announce.
        if (XEventsQueued(display, QueuedAlready) > 0) {
            handleEvents();
            continue;
        }
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
            handleEvents();
        if (fds[1].revents & POLLIN) {
            drain(timerFd_);
            if (mode_ != Mode::Idle)
                frame(false);
        }
    }
    X11ErrorRouter::setHandler(display, {});
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
    XSync(display_.get(), False);
    handleEvents();
    {
        std::lock_guard lock(mutex_);
        acknowledged_ = requests;
    }
    changed_.notify_all();
}

void X11PointerTracker::handleEvents() {
    Display* display = display_.get();
    bool moved = false;
    while (XEventsQueued(display, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        XGenericEventCookie& cookie = event.xcookie;
        if (cookie.type != GenericEvent || cookie.extension != xinputOpcode_ || !XGetEventData(display, &cookie))
            continue;
        if (cookie.evtype == XI_RawButtonPress && static_cast<const XIRawEvent*>(cookie.data)->detail == leftButton &&
            current_.pressesWatched) {
            std::lock_guard lock(handlerMutex_);
            if (onLeftPress_)
                onLeftPress_();
        } else if (cookie.evtype == XI_RawMotion) {
            moved = true;
        }
        XFreeEventData(display, &cookie);
    }
    // However many motion events came, one frame; the frame timer takes over from there.
    if (moved && mode_ == Mode::Resting)
        frame(false);
}

void X11PointerTracker::frame(bool force) {
    Display* display = display_.get();
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int buttons = 0;
    const bool onScreen = XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX,
                                        &winY, &buttons);
    // Errors of earlier moves arrive before the reply.
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
    XWindowChanges changes = {};
    changes.x = rootX - current_.width / 2;
    changes.y = rootY - current_.height / 2;
    changes.stack_mode = Above;
    XConfigureWindow(display, current_.window, CWX | CWY | CWStackMode, &changes);
    XFlush(display);
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
    const unsigned wanted = (current_.pressesWatched ? pressBit : 0) | (mode_ == Mode::Resting ? motionBit : 0);
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
}

void X11PointerTracker::connectionLost() {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        resting_ = false;
    }
    changed_.notify_all();
    if (onConnectionLost_)
        onConnectionLost_();
}
