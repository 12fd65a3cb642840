#include "platform/x11/X11PointerTracker.h"

#include "platform/x11/X11ErrorRouter.h"
#include "platform/x11/X11RawEventSelection.h"

#include <xcb/sync.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int leftButton = 1;
constexpr std::uint8_t xcbError = 0;
constexpr std::uint8_t xcbGenericEvent = 35;

// One read takes every wake-up counted so far.
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

// xcb hands out replies, events and errors as malloc'd blocks that the receiver frees.
struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
template <class T> using XcbOwned = std::unique_ptr<T, FreeDeleter>;

xcb_sync_int64_t syncValue(std::int64_t value) {
    return {static_cast<std::int32_t>(value >> 32), static_cast<std::uint32_t>(value & 0xffffffffu)};
}

long milliseconds(std::chrono::nanoseconds span) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
}

// One condition of an await. The threshold is set so that ending the await never sends a CounterNotify.
xcb_sync_waitcondition_t condition(std::uint32_t counter, std::uint32_t valueType, std::int64_t value,
                                   std::uint32_t testType) {
    const bool positive = testType == XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON ||
                          testType == XCB_SYNC_TESTTYPE_POSITIVE_TRANSITION;
    xcb_sync_waitcondition_t wait = {};
    wait.trigger.counter = counter;
    wait.trigger.wait_type = valueType;
    wait.trigger.wait_value = syncValue(value);
    wait.trigger.test_type = testType;
    wait.event_threshold = syncValue(positive ? std::numeric_limits<std::int64_t>::max()
                                              : std::numeric_limits<std::int64_t>::min());
    return wait;
}

// The server's system counters by name. xcb's accessor for the names reads them two bytes off (its struct
// is padded), so the list is read as the protocol lays it out.
std::uint32_t systemCounter(xcb_connection_t* xcb, const std::string& name) {
    const XcbOwned<xcb_sync_list_system_counters_reply_t> reply(
        xcb_sync_list_system_counters_reply(xcb, xcb_sync_list_system_counters(xcb), nullptr));
    if (!reply)
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(reply.get());
    const std::size_t size = 32 + std::size_t{reply->length} * 4;
    std::size_t at = 32;
    std::uint32_t found = 0;
    for (std::uint32_t i = 0; i < reply->counters_len && at + 14 <= size && !found; ++i) {
        std::uint32_t counter = 0;
        std::uint16_t length = 0;
        std::memcpy(&counter, bytes + at, sizeof counter);
        std::memcpy(&length, bytes + at + 12, sizeof length);
        if (at + 14 + length > size)
            break;
        if (name.size() == length && std::memcmp(bytes + at + 14, name.data(), length) == 0)
            found = counter;
        at += (14 + std::size_t{length} + 3) & ~std::size_t{3};
    }
    return found;
}

bool initializeSync(xcb_connection_t* xcb) {
    const XcbOwned<xcb_sync_initialize_reply_t> reply(xcb_sync_initialize_reply(
        xcb, xcb_sync_initialize(xcb, XCB_SYNC_MAJOR_VERSION, XCB_SYNC_MINOR_VERSION), nullptr));
    return reply && reply->major_version >= 3;
}

} // namespace

void X11PointerTracker::DisplayCloser::operator()(Display* display) const {
    XCloseDisplay(display);
}

void X11PointerTracker::XcbDisconnector::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
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
    int pointer = 0;
    if (!XIGetClientPointer(display, None, &pointer))
        pointer = 0;
    // Per-frame requests go out through xcb, which is leaner than Xlib's locking and reading around each
    // call; so events (and errors) are read through xcb too, from its own queue.
    XSetEventQueueOwner(display, XCBOwnsEventQueue);
    xcb_ = XGetXCBConnection(display);
    if (!openSync(displayName.empty() ? DisplayString(display) : displayName))
        return;
    // The pointer's own idle time, so typing does not end a rest; any device's when the server has none.
    pointerIdle_ = systemCounter(xcb_, "DEVICEIDLETIME " + std::to_string(pointer));
    if (!pointerIdle_)
        pointerIdle_ = systemCounter(xcb_, "IDLETIME");
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return;
    // Xlib's default ends the process when a connection breaks; this one only ends the thread.
    XSetIOErrorExitHandler(
        display, [](Display*, void*) {}, nullptr);
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

bool X11PointerTracker::openSync(const std::string& displayName) {
    if (!initializeSync(xcb_))
        return false;
    serverTime_ = systemCounter(xcb_, "SERVERTIME");
    waker_.reset(xcb_connect(displayName.c_str(), nullptr));
    xcb_connection_t* waker = waker_.get();
    if (!serverTime_ || xcb_connection_has_error(waker) || !initializeSync(waker))
        return false;
    wakeCounter_ = xcb_generate_id(waker);
    // Read back on the connection that made it, so it exists before an await of the other one names it.
    xcb_sync_create_counter(waker, wakeCounter_, syncValue(0));
    xcb_generic_error_t* error = nullptr;
    const XcbOwned<xcb_sync_query_counter_reply_t> reply(
        xcb_sync_query_counter_reply(waker, xcb_sync_query_counter(waker, wakeCounter_), &error));
    const XcbOwned<xcb_generic_error_t> ownedError(error);
    return reply && !error;
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
    const int xfd = xcb_get_file_descriptor(xcb_);
    for (;;) {
        applyWanted();
        if (current_.stop || broken_)
            break;
        // A reply's wait may have read events (or the answer) into xcb's queue, which poll() would not
        // announce.
        if (handleEvents(false))
            continue;
        sendQuery(false);
        if (xcb_connection_has_error(xcb_)) {
            connectionLost();
            break;
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            connectionLost();
            break;
        }
        if (fds[1].revents & POLLIN)
            drain(wakeFd_);
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) || xcb_connection_has_error(xcb_)) {
            connectionLost();
            break;
        }
        if (fds[0].revents & POLLIN)
            handleEvents(true);
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
    std::uint64_t acknowledged = 0;
    {
        std::lock_guard lock(mutex_);
        wanted = wanted_;
        requests = requests_;
        acknowledged = acknowledged_;
    }
    // A window found gone stays unfollowed until another one is given.
    const auto unlessLost = [this](Wanted w) {
        if (w.window == lostWindow_)
            w.window = 0;
        return w;
    };
    if (unlessLost(wanted) == current_ && requests == acknowledged)
        return;
    // Whatever is asked goes out behind the pending await; so that ends first. Its answer may find the
    // window gone.
    collectPending();
    if (broken_)
        return;
    wanted = unlessLost(wanted);
    const bool placementChanged = wanted.window != current_.window || wanted.width != current_.width ||
                                  wanted.height != current_.height;
    current_ = wanted;
    if (!current_.window || current_.stop) {
        setMode(Mode::Idle);
    } else if (placementChanged) {
        setMode(Mode::Moving);
        pendingForced_ = true;
        sendQuery(true);
    }
    selectEvents();
    if (requests == acknowledged)
        return;
    // Everything sent (the selection too) has reached the server, and whatever it had for us is handled.
    const XcbOwned<xcb_get_input_focus_reply_t> roundTrip(
        xcb_get_input_focus_reply(xcb_, xcb_get_input_focus(xcb_), nullptr));
    handleEvents(false);
    if (pending_)
        collectPending();
    {
        std::lock_guard lock(mutex_);
        acknowledged_ = requests;
    }
    changed_.notify_all();
}

void X11PointerTracker::collectPending() {
    if (!pending_)
        return;
    if (pendingAwaits_) {
        xcb_sync_change_counter(waker_.get(), wakeCounter_, syncValue(1));
        xcb_flush(waker_.get());
        ++wakeValue_;
    }
    xcb_generic_error_t* error = nullptr;
    void* reply = xcb_wait_for_reply(xcb_, pendingSequence_, &error);
    if (!reply && xcb_connection_has_error(xcb_)) {
        pending_ = false;
        const XcbOwned<xcb_generic_error_t> lost(error);
        connectionLost();
        return;
    }
    // Errors of earlier moves were read before the answer.
    handleEvents(false);
    handleAnswer(reply, error, true);
}

void X11PointerTracker::handleAnswer(void* replyBlock, void* errorBlock, bool released) {
    const XcbOwned<void> reply(replyBlock);
    const XcbOwned<void> error(errorBlock);
    pending_ = false;
    // A rest that ended long before its poll was due, and not by us, ended on the device's activity.
    const bool active = !released && mode_ == Mode::Resting && pendingAwaits_ &&
                        std::chrono::steady_clock::now() - querySentAt_ < timing_.restPoll / 2;
    if (const auto* answer = static_cast<const xcb_query_pointer_reply_t*>(reply.get()))
        handleSample(answer->same_screen, answer->root_x, answer->root_y);
    // A device that reports without moving the pointer (pushed against a screen edge, say) keeps its idle
    // time low, which would end every rest at once: it gets frames at the frame rate until it stops.
    if (active && mode_ == Mode::Resting)
        setMode(Mode::Moving);
}

bool X11PointerTracker::handleEvents(bool read) {
    bool any = false;
    for (;;) {
        // Reads the socket once at most: after that everything is queued.
        const XcbOwned<xcb_generic_event_t> event(read ? xcb_poll_for_event(xcb_)
                                                       : xcb_poll_for_queued_event(xcb_));
        read = false;
        if (!event)
            break;
        any = true;
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == xcbError) {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event.get());
            handleError({error->error_code, error->major_code, error->minor_code, error->resource_id});
        } else if (type == xcbGenericEvent) {
            const auto* raw = reinterpret_cast<const RawEventHead*>(event.get());
            if (raw->extension == xinputOpcode_ && raw->eventType == XI_RawButtonPress &&
                raw->detail == leftButton && current_.pressesWatched) {
                std::lock_guard lock(handlerMutex_);
                if (onLeftPress_)
                    onLeftPress_();
            }
        }
    }
    if (!pending_)
        return any;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(xcb_, pendingSequence_, &reply, &error))
        return any;
    handleAnswer(reply, error, false);
    return true;
}

void X11PointerTracker::handleError(const X11ErrorRouter::Error& error) {
    // A move sent before we learnt that the window is gone; anything else is a real fault.
    if (error.code == BadWindow && error.resource && error.resource == current_.window) {
        windowLost_ = true;
        return;
    }
    if (error.code == BadWindow && error.resource && error.resource == lostWindow_)
        return;
    X11ErrorRouter::report(display_.get(), error);
}

void X11PointerTracker::handleSample(bool onScreen, int rootX, int rootY) {
    const bool forced = pendingForced_;
    pendingForced_ = false;
    if (windowLost_) {
        windowLost_ = false;
        lostWindow_ = current_.window;
        current_.window = 0;
        setMode(Mode::Idle);
        return;
    }
    if (mode_ == Mode::Idle)
        return;
    const bool moved = !haveLast_ || rootX != lastX_ || rootY != lastY_;
    if (!onScreen || (!moved && !forced)) {
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
    // stay above windows mapped since. It goes out with the next query.
    const std::uint32_t values[] = {static_cast<std::uint32_t>(rootX - current_.width / 2),
                                    static_cast<std::uint32_t>(rootY - current_.height / 2),
                                    XCB_STACK_MODE_ABOVE};
    xcb_configure_window(xcb_, static_cast<xcb_window_t>(current_.window),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_STACK_MODE, values);
    moves_.fetch_add(1);
}

void X11PointerTracker::sendQuery(bool now) {
    if (pending_ || mode_ == Mode::Idle) {
        xcb_flush(xcb_);
        return;
    }
    pendingAwaits_ = !now;
    if (!now) {
        // The server holds back the query until a frame has passed on its clock, or (resting) the pointer
        // moves again or the slow poll is due, or another thread wants something of us.
        xcb_sync_waitcondition_t conditions[3];
        std::uint32_t count = 0;
        conditions[count++] = condition(wakeCounter_, XCB_SYNC_VALUETYPE_ABSOLUTE, wakeValue_ + 1,
                                        XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON);
        if (mode_ == Mode::Moving) {
            owedMicros_ += std::chrono::duration_cast<std::chrono::microseconds>(timing_.frame).count();
            const std::int64_t wait = owedMicros_ / 1000;
            owedMicros_ -= wait * 1000;
            conditions[count++] = condition(serverTime_, XCB_SYNC_VALUETYPE_RELATIVE, wait,
                                            XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON);
        } else {
            conditions[count++] =
                condition(serverTime_, XCB_SYNC_VALUETYPE_RELATIVE, milliseconds(timing_.restPoll),
                          XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON);
            // The pointer's idle time falls back to about nothing on its next motion. A level, not an edge:
            // motion since the last answer (or a device that never stopped reporting) ends the wait at once.
            if (pointerIdle_)
                conditions[count++] = condition(pointerIdle_, XCB_SYNC_VALUETYPE_ABSOLUTE,
                                                std::max(milliseconds(timing_.frame), 1L),
                                                XCB_SYNC_TESTTYPE_NEGATIVE_COMPARISON);
        }
        xcb_sync_await(xcb_, count, conditions);
    }
    pendingSequence_ =
        xcb_query_pointer(xcb_, static_cast<xcb_window_t>(DefaultRootWindow(display_.get()))).sequence;
    pending_ = true;
    querySentAt_ = std::chrono::steady_clock::now();
    queries_.fetch_add(1);
    xcb_flush(xcb_);
}

void X11PointerTracker::setMode(Mode mode) {
    if (mode == mode_)
        return;
    mode_ = mode;
    stillFrames_ = 0;
    {
        std::lock_guard lock(mutex_);
        resting_ = mode == Mode::Resting;
    }
    changed_.notify_all();
}

void X11PointerTracker::selectEvents() {
    if (current_.pressesWatched == pressesSelected_)
        return;
    pressesSelected_ = current_.pressesWatched;
    Display* display = display_.get();
    X11RawEventSelection::select(display, DefaultRootWindow(display), XIAllMasterDevices,
                                 {pressesSelected_ ? XI_RawButtonPress : 0});
    XFlush(display);
}

void X11PointerTracker::connectionLost() {
    if (broken_)
        return;
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
