#pragma once

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

// Keeps one X window centred on the pointer from a thread and an X connection of its own, so the per-frame
// work never goes through the GUI's event loop. The thread sleeps in poll() on its connection, a timerfd and
// an eventfd. While the pointer moves it queries it and moves the window at most once a frame; after a few
// still frames the frame timer gives way to XInput 2 raw motion, which wakes it on the next move, and a slow
// poll, since a warp reports no raw motion. It also reports left-button presses. While it follows nothing
// and watches nothing it does not wake at all.
// Thread-safety: public members from any thread; handlers run on the tracker thread.
class X11PointerTracker {
  public:
    struct Timing {
        std::chrono::nanoseconds frame = std::chrono::nanoseconds(1'000'000'000 / 60);
        int stillFramesBeforeRest = 6;
        // Bounds how late a warp is followed.
        std::chrono::nanoseconds restPoll = std::chrono::milliseconds(200);
    };

    // Opens its own connection to `displayName` (empty: $DISPLAY) and starts the thread. When the display
    // cannot be opened, or lacks XInput 2.2, isRunning() is false from the start. `onConnectionLost` is
    // called once, on the tracker thread, if the connection breaks later; the thread then ends.
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
    // For tests and diagnostics: windows moved so far, and whether the frame timer rests.
    std::uint64_t moves() const { return moves_.load(); }
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
    };
    struct DisplayCloser {
        void operator()(Display* display) const;
    };

    void run();
    void applyWanted();
    // Handles the events in xcb's queue, after reading the socket once when `read`; true if there were any.
    bool handleEvents(bool read);
    void handleError(int code, unsigned long resource, int request, int minorRequest);
    void frame(bool force);
    void setMode(Mode mode);
    void selectEvents();
    void armTimer(std::chrono::nanoseconds period);
    // Blocks the caller until the thread has gone round its loop once more (with a round trip first).
    void waitForAcknowledgement();
    void wake();
    void connectionLost();

    const Timing timing_;
    std::function<void()> onConnectionLost_;
    std::unique_ptr<Display, DisplayCloser> display_;
    int xinputOpcode_ = -1;
    int timerFd_ = -1;
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
    unsigned long lostWindow_ = 0;
    bool windowLost_ = false;
    // Read by the destructor once the thread has ended.
    bool broken_ = false;
    bool haveLast_ = false;
    int lastX_ = 0;
    int lastY_ = 0;
    int stillFrames_ = 0;
    unsigned selectedMask_ = 0;

    std::atomic<bool> running_{false};
    std::atomic<bool> resting_{false};
    std::atomic<std::uint64_t> moves_{0};
    std::thread thread_;
};
