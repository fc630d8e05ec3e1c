#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>

// A local stream socket by which a start of the program finds the one already running for the
// same user: where its file lies, asking it one line with a deadline, listening, and taking the
// file away again only while it is still this listener's. Plain POSIX; no Qt.
namespace platform {

using LocalClock = std::chrono::steady_clock;

// The user's private folder for the socket: `runtimeDir` when it names a directory owned by
// `uid` with mode 0700, else `tmpBase`/koru-<uid>, made with mode 0700 when missing and accepted
// only when it is a real directory (not a link) owned by `uid`; a folder of ours with a wider
// mode is narrowed to 0700. Empty when neither can be had: the program then runs alone.
std::string ChoosePrivateFolder(const char* runtimeDir, const std::string& tmpBase, uid_t uid);
// The same for this process: $XDG_RUNTIME_DIR, /tmp, the real user id.
std::string ChoosePrivateFolder();

// The socket file in `folder`, or empty when the name does not fit a socket address.
std::string LocalSocketPath(const std::string& folder);

enum class LocalAsk {
    Answered, // a whole line came back
    Nobody,   // no file at the path
    Stale,    // a socket file that no one listens on (left by a program that crashed)
    NoAnswer, // accepted, but no line by the deadline, or closed without one
    Unusable, // anything else: not a socket, not ours to connect to, a full backlog
};
struct LocalReply {
    LocalAsk outcome = LocalAsk::Unusable;
    std::string line; // without its "\n", when answered
};

// Connects to `path`, sends `request` and waits for one line until `deadline`; never longer.
LocalReply AskLocal(const std::string& path, std::string_view request,
                    LocalClock::time_point deadline);

// An advisory lock on a file beside the socket, so that two starts at the same moment do not
// both decide the path is free. Waits until `deadline` at most: a holder that hangs can delay a
// start, never stop it. Released when the object goes.
class LocalLock {
public:
    LocalLock(const std::string& path, LocalClock::time_point deadline);
    ~LocalLock();
    LocalLock(const LocalLock&) = delete;
    LocalLock& operator=(const LocalLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A listening socket bound to a path, non-blocking. Owned by one thread.
class LocalListener {
public:
    LocalListener() = default;
    ~LocalListener() { Close(); }
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    // Binds `path` and listens. With `takeOver`, whatever sits at the path first is removed
    // unless it is a folder; the caller decides that it is no running program's. False (and
    // errno) when the path could not be had; nothing is removed that was not there to replace.
    bool Listen(const std::string& path, bool takeOver);
    bool Listening() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    // A pending connection, non-blocking, or -1 when none is waiting (or on a failure).
    int Accept() const;
    // Stops listening and removes the file, but only while it is still the one this listener
    // made: a later start may have replaced it with its own, which must stay.
    void Close();

private:
    int fd_ = -1;
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// The user id of the process at the other end of a local connection, or -1.
long PeerUid(int fd);
// Sends what fits at once without blocking or SIGPIPE; false when not all of it went.
bool SendNow(int fd, std::string_view bytes);
// Reads up to `most` bytes that are there now (none when nothing waits); `ended` is set when the
// peer closed or the connection failed.
std::string ReceiveNow(int fd, size_t most, bool& ended);
void CloseLocal(int fd);

} // namespace platform
