#pragma once

#include <chrono>
#include <string>

namespace testsupport {

class XConnection;

// Synthesises input through XTest, so the server treats it as real hardware input (XInput 2 raw events
// included, unlike pointer warps). Every call is flushed to the server before it returns.
// Thread-safety: as its XConnection.
class XTestDriver {
  public:
    // Throws std::runtime_error when the server lacks XTest.
    explicit XTestDriver(XConnection& connection);

    void move(int x, int y);
    void press(int button);
    void release(int button);
    void click(int button = 1);
    // A key given by keysym name ("a", "F5", "Escape"), pressed and released.
    void tapKey(const std::string& keysymName);
    void pressKey(const std::string& keysymName);
    void releaseKey(const std::string& keysymName);

    struct Point {
        int x = 0;
        int y = 0;
    };
    Point pointer() const;

    // Moves the pointer round a circle with `hz` motion events per second for `duration`,
    // paced against absolute deadlines so the rate does not drift. Returns the number of moves sent.
    long circle(int centerX, int centerY, int radius, double hz, std::chrono::duration<double> duration,
                double revolutionsPerSecond = 1.0);

  private:
    unsigned keycode(const std::string& keysymName) const;

    XConnection& connection_;
};

} // namespace testsupport
