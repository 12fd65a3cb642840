#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

// The Unix-domain socket through which other invocations of the program reach the running instance,
// kept at the POSIX level so that every situation can be told apart and named in words: nothing there, a
// socket left by an instance that died, a file that is not a socket, an instance that does not answer.
// An object is the listening end of the running instance; request() is the other end. The listening end
// removes its path when it closes only while the path is still its own socket, so an instance that was
// replaced never takes its successor's socket away.
// Thread-safety: an object belongs to one thread; request() may be called from any thread.
class CommandSocket {
  public:
    enum class Outcome {
        Answered,   // the instance carried the command out
        Refused,    // the instance answered that it does not know the command
        NoInstance, // nothing at the path
        Stale,      // a socket that nobody listens on: its instance ended without removing it
        Closed,     // the instance closed the connection without answering (it was quitting)
        NotASocket, // something other than a socket has the path
        NoAnswer,   // connected, but no answer within the time-out
        Failed,     // anything else; `detail` says what, in words
    };
    struct Reply {
        Outcome outcome = Outcome::Failed;
        std::string detail;
    };

    // Sends one command line and waits up to `timeout` in all for the answer line.
    static Reply request(const std::string& path, const std::string& command,
                         std::chrono::milliseconds timeout);

    // Binds and listens at `path`, readable and writable by the user only. With `replaceExisting`, a
    // socket already at the path is removed first (never a file of another kind). On failure returns null
    // and says why in `error`; `addressInUse` tells that another socket holds the path.
    static std::unique_ptr<CommandSocket> listen(const std::string& path, bool replaceExisting,
                                                 std::string* error, bool* addressInUse = nullptr);

    ~CommandSocket();
    CommandSocket(const CommandSocket&) = delete;
    CommandSocket& operator=(const CommandSocket&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // One pending connection from a process of the same user, or -1 when none is pending.
    int accept() const;

    // An advisory lock on `path` + ".lock" between processes, held while a start decides whether to hand
    // over or take the socket, and while a closing instance removes its path. Not having the lock (a
    // read-only folder) does not stop anything; it only leaves the races open that it closes.
    class Lock {
      public:
        explicit Lock(const std::string& socketPath);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        bool held() const { return fd_ >= 0; }

      private:
        int fd_ = -1;
    };

  private:
    CommandSocket(int fd, std::string path, dev_t device, ino_t inode);

    int fd_ = -1;
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};
