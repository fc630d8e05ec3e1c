#pragma once

// What the load and fault tests share: plain loopback clients that can hold hundreds of
// connections from one thread, the figures /proc shows of a process, and the program started as
// a child process on a store, base folder and port of its own.

#include "platform/NoCopy.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace load {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start);

// What the kernel shows of a process: threads and descriptors counted exactly, memory as the
// resident set in KiB. Qt's own thread pool keeps a couple of threads, each with an event
// counter, for half a minute after it last had work; they come and go on their own, so the
// checks look at the rest: the program's own threads and its files and sockets.
struct Figures {
    int threads = 0;
    long rssKiB = 0;
    int descriptors = 0;
    int qtPoolThreads = 0;
    int eventDescriptors = 0;

    int OwnThreads() const { return threads - qtPoolThreads; }
    int FilesAndSockets() const { return descriptors - eventDescriptors; }
};

// -1 in every field when the process is gone.
Figures FiguresOf(pid_t pid);
// The highest resident set the process has had, in KiB; -1 when it is gone.
long PeakResidentKiB(pid_t pid);
// The process's address space in use, in KiB; -1 when it is gone.
long VirtualKiB(pid_t pid);
// CPU time the process has used so far (user and system), in milliseconds.
double CpuMs(pid_t pid);
std::string Describe(const Figures& figures);
// Succeeds when the process has no more threads of its own, and no more files and sockets open,
// than when it was idle.
::testing::AssertionResult BackToIdle(const Figures& now, const Figures& idle);

// Polls the figures of `pid` until `done` holds, `ms` at most; returns the last figures read.
Figures WaitForFigures(pid_t pid, const std::function<bool(const Figures&)>& done, int ms);

// A blocking connection to 127.0.0.1:port whose receives and sends give up after
// `timeoutSeconds`; -1 when it was not accepted. A `receiveBuffer` above 0 fixes the kernel's
// receive buffer to that size, so that a client that stops reading stalls the sender soon.
int Connect(uint16_t port, int timeoutSeconds = 30, int receiveBuffer = 0);
bool SendAll(int fd, std::string_view data);

// How a reply ended: the peer closed (the normal end), the connection was reset, or nothing came
// for the receive timeout (a hang).
enum class End { Closed, Reset, TimedOut };

struct Reply {
    std::string bytes;
    End end = End::Closed;
    // When it ended, in ms from the start of the read.
    double endedMs = 0;
};

// Reads until the peer closes, resets or goes silent for the receive timeout.
Reply ReadReply(int fd);
// Connects, sends the request, reads the reply to its end and closes.
Reply Exchange(uint16_t port, std::string_view request);
// Closes so that the peer sees a reset instead of an orderly end.
void CloseWithReset(int fd);

// Reads every connection until it ends, all at once from this thread: hundreds of replies
// without a thread each. Connections still open after `ms` end as TimedOut.
std::vector<Reply> ReadReplies(const std::vector<int>& fds, int ms);

// The exact bytes the server sends for a file and for its short page replies.
std::string FileReply(const std::string& type, const std::string& content);
std::string PageReply(int code, const std::string& reason, const std::string& message);

// Repeats `measure` up to `attempts` times and returns the smallest result: on a shared machine
// a single slow sample says more about the neighbours than about the server.
double BestOf(int attempts, const std::function<double()>& measure);

// Bytes that differ with the seed, so that a file shows whose upload it is and a misplaced
// chunk shows in a comparison.
std::string Pattern(size_t size, unsigned seed);

// A temporary folder holding the base folder and other folders beside it, which nothing must
// ever reach through the server. Removed with the object.
class Sandbox : platform::NoCopy {
public:
    Sandbox();
    ~Sandbox();

    const std::string& Root() const { return root_; }
    // Root() + "/inner/base".
    const std::string& Base() const { return base_; }
    void Write(const std::string& relativeToRoot, const std::string& content) const;
    std::string Read(const std::string& relativeToRoot) const;
    // Every file and folder below the root with its size, one per line, sorted.
    std::string Listing(const std::string& relativeToRoot = "") const;

private:
    std::string root_;
    std::string base_;
};

// The program, started as a child process on a settings store, a log and a port of its own,
// without a display. Plug-in pages get "<H>" before and "</H>" after the module's body. Stopped
// (SIGTERM, as the desktop would) when the object goes.
class ChildServer {
public:
    struct Options {
        std::string baseFolder;
        std::string pluginsFolder;
        int idleSeconds = 40;
        // Above 0: the program's descriptor limit, soft and hard, as `ulimit -n` would set it.
        int descriptorLimit = 0;
        // The request log inside the base folder (as "KORU.Log"), where a visitor can fetch it.
        bool logInBase = false;
    };

    explicit ChildServer(Options options);
    ~ChildServer();
    ChildServer(const ChildServer&) = delete;
    ChildServer& operator=(const ChildServer&) = delete;

    // Starts the program and waits until it answers a request; false with the reason in
    // Failure() when it does not.
    bool Start();
    // Ends the program with SIGTERM and reports how it ended ("exit 0", "signal 11", ...).
    std::string Stop();
    // True while the program runs; records how it ended when it did.
    bool Alive();

    pid_t Pid() const { return pid_; }
    uint16_t Port() const { return port_; }
    Figures Now() const { return FiguresOf(pid_); }
    // The figures once nothing changes any more, the reused threads of earlier workers ended.
    Figures Idle() const;
    // Waits until the program is back to `idle` (BackToIdle), `ms` at most, and returns the
    // figures then.
    Figures SettleTo(const Figures& idle, int ms = 20000) const;
    // Everything the program wrote to its standard output and error, and how it ended.
    std::string Failure() const;
    std::string LogFile() const {
        return options_.logInBase ? options_.baseFolder + "/KORU.Log" : folder_ + "/koru.log";
    }

private:
    bool Spawn();
    bool Answers(int ms);

    Options options_;
    std::string folder_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string ended_;
};

// A test that starts the program on a sandboxed site and checks at its end that the program is
// still alive and ends cleanly.
class ChildServerTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (server) {
            EXPECT_TRUE(server->Alive()) << server->Failure();
            EXPECT_EQ(server->Stop(), "exit 0") << server->Failure();
        }
    }

    void startServer(int idleSeconds) {
        server = std::make_unique<ChildServer>(
            ChildServer::Options{site.Base(), site.Root() + "/no-plugins", idleSeconds});
        ASSERT_TRUE(server->Start()) << server->Failure();
    }

    Sandbox site;
    std::unique_ptr<ChildServer> server;
};

} // namespace load
