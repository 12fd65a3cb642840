#pragma once

#include "platform/x11/X11ErrorRouter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct _XDisplay Display;
struct xcb_connection_t;

// Keeps one X window centred on the pointer from a thread and an X connection of its own, so the per-frame
// work never goes through the GUI's event loop. The X server paces the frames: each pointer query is sent
// behind a SYNC await on the server's clock, so the thread sleeps in poll() until the answer is there and
// wakes once a frame, to move the window and send the next query. After a few still frames the await also
// ends on the pointer's next motion (its idle-time counter), and otherwise at a slow poll, since a warp
// reports no motion. It also reports left-button presses. While it follows nothing it sends no query and
// does not wake at all. Changes asked for from other threads release a pending await through a second,
// write-only connection, so they never wait for the server's clock.
// Thread-safety: public members from any thread; handlers run on the tracker thread.
class X11PointerTracker {
  public:
    struct Timing {
        std::chrono::nanoseconds frame = std::chrono::nanoseconds(1'000'000'000 / 60);
        int stillFramesBeforeRest = 6;
        // Bounds how late a warp is followed.
        std::chrono::nanoseconds restPoll = std::chrono::milliseconds(200);
    };

    // Opens its own connections to `displayName` (empty: $DISPLAY) and starts the thread. When the display
    // cannot be opened, or lacks XInput 2.2 or SYNC 3.0, isRunning() is false from the start.
    // `onConnectionLost` is called once, on the tracker thread, if the connection breaks later; the thread
    // then ends.
    X11PointerTracker(const std::string& displayName, std::function<void()> onConnectionLost, Timing timing);
    X11PointerTracker(const std::string& displayName, std::function<void()> onConnectionLost)
        : X11PointerTracker(displayName, std::move(onConnectionLost), Timing{}) {}
    ~X11PointerTracker();
    X11PointerTracker(const X11PointerTracker&) = delete;
    X11PointerTracker& operator=(const X11PointerTracker&) = delete;

    bool isRunning() const { return running_.load(); }

    // Starts centring `window` (of any client) on the pointer, or updates its size; moves it at once.
    void follow(unsigned long window, int width, int height);
    // Returns once the last move has reached the server and no other will follow.
    void stopFollowing();
    // `onLeftPress` for every left-button press anywhere; empty stops. Returns when no earlier handler
    // runs any more. A handler must not call back into the tracker.
    void watchPresses(std::function<void()> onLeftPress);

    // Returns once the tracker has handled every event the server had for it when this was called.
    void sync();
    // For tests and diagnostics: windows moved and pointer queries sent so far, and whether the tracker
    // rests (waits for motion).
    std::uint64_t moves() const { return moves_.load(); }
    std::uint64_t queries() const { return queries_.load(); }
    bool isResting() const { return resting_.load(); }
    bool waitUntilResting(std::chrono::milliseconds timeout);

  private:
    enum class Mode { Idle, Moving, Resting };
    struct Wanted {
        unsigned long window = 0;
        int width = 0;
        int height = 0;
        bool pressesWatched = false;
        bool stop = false;
        bool operator==(const Wanted&) const = default;
    };
    struct DisplayCloser {
        void operator()(Display* display) const;
    };
    struct XcbDisconnector {
        void operator()(xcb_connection_t* connection) const;
    };

    bool openSync(const std::string& displayName);
    void run();
    void applyWanted();
    // Handles the events in xcb's queue, after reading the socket once when `read`, then the answer to the
    // pending query if it has come; true if there was anything.
    bool handleEvents(bool read);
    void handleError(const X11ErrorRouter::Error& error);
    // Ends the pending await at once and handles the query's answer.
    void collectPending();
    // Takes the pending query's answer and error from xcb (either may be null) and frees them; `released`
    // when we ended its await.
    void handleAnswer(void* reply, void* error, bool released);
    void handleSample(bool onScreen, int rootX, int rootY);
    // Sends the next pointer query when following and none is pending: behind an await fitting the mode,
    // or at once.
    void sendQuery(bool now);
    void setMode(Mode mode);
    void selectEvents();
    // Blocks the caller until the thread has gone round its loop once more (with a round trip first).
    void waitForAcknowledgement();
    void wake();
    void connectionLost();

    const Timing timing_;
    std::function<void()> onConnectionLost_;
    std::unique_ptr<Display, DisplayCloser> display_;
    xcb_connection_t* xcb_ = nullptr;
    // Only ever writes: it moves the counter a pending await also ends on.
    std::unique_ptr<xcb_connection_t, XcbDisconnector> waker_;
    int xinputOpcode_ = -1;
    std::uint32_t serverTime_ = 0;
    std::uint32_t pointerIdle_ = 0;
    std::uint32_t wakeCounter_ = 0;
    std::int64_t wakeValue_ = 0;
    int wakeFd_ = -1;

    std::mutex mutex_;
    std::condition_variable changed_;
    Wanted wanted_;
    std::uint64_t requests_ = 0;
    std::uint64_t acknowledged_ = 0;

    // Held while a handler runs and while one is replaced.
    std::mutex handlerMutex_;
    std::function<void()> onLeftPress_;

    // Tracker thread only.
    Wanted current_;
    Mode mode_ = Mode::Idle;
    bool pending_ = false;
    unsigned pendingSequence_ = 0;
    bool pendingForced_ = false;
    // Whether the pending query waits behind an await.
    bool pendingAwaits_ = false;
    std::chrono::steady_clock::time_point querySentAt_;
    // Microseconds of the frame period not yet waited for, as the server's clock counts milliseconds.
    std::int64_t owedMicros_ = 0;
    unsigned long lostWindow_ = 0;
    bool windowLost_ = false;
    // Read by the destructor once the thread has ended.
    bool broken_ = false;
    bool haveLast_ = false;
    int lastX_ = 0;
    int lastY_ = 0;
    int stillFrames_ = 0;
    bool pressesSelected_ = false;

    std::atomic<bool> running_{false};
    std::atomic<bool> resting_{false};
    std::atomic<std::uint64_t> moves_{0};
    std::atomic<std::uint64_t> queries_{0};
    std::thread thread_;
};
