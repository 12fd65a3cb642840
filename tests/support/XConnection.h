#pragma once

#include <string>

struct _XDisplay;

namespace testsupport {

using XWindowId = unsigned long;

// One Xlib connection, closed on destruction.
// Thread-safety: a connection belongs to one thread at a time.
class XConnection {
  public:
    // Throws std::runtime_error when the display cannot be opened.
    explicit XConnection(const std::string& displayName);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    _XDisplay* display() const { return display_; }
    const std::string& name() const { return name_; }
    XWindowId root() const;
    int screenWidth() const;
    int screenHeight() const;
    void sync() const;
    unsigned long atom(const char* name) const;

  private:
    _XDisplay* display_ = nullptr;
    std::string name_;
};

} // namespace testsupport
