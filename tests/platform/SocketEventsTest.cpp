// The re-arming rules of the event source, one row each: which notices a connection gets, and
// when a notice comes again. Every socket object relies on exactly these rules.
#include "platform/SocketEvents.h"
#include "platform/Sockets.h"
#include "platform/ThreadPump.h"
#include "support/LoopbackClient.h"
#include "support/LoopbackPorts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace platform;
using ::testing::ElementsAreArray;

namespace {

class Recorder : public SocketEventSink {
public:
    void OnSocketNotify(int, int events, int error) override {
        for (const auto& [bit, name] : {std::pair{kEventRead, "read"},
                                        {kEventWrite, "write"},
                                        {kEventAccept, "accept"},
                                        {kEventConnect, "connect"},
                                        {kEventClose, "close"}})
            if (events & bit)
                log.push_back(std::string(name) + (error ? " " + std::to_string(error) : ""));
        if (react)
            react(events);
    }
    void OnLookupDone(LookupRequest, int, const std::vector<std::uint32_t>&) override {}

    std::vector<std::string> log;
    std::function<void(int events)> react;
};

// A connected pair: `ours` is registered with the endpoint, `theirs` is the peer.
struct Scene {
    Recorder sink;
    SocketEndpoint endpoint{&sink};
    std::vector<int> fds;
    int ours = -1;
    int theirs = -1;
    int listening = -1;
    uint16_t port = 0;

    Scene() { listening = keep(testnet::bindAnyPort(port, 16, SOCK_NONBLOCK)); }
    ~Scene() {
        endpoint.Forget();
        for (const int fd : fds)
            ::close(fd);
    }
    int keep(int fd) {
        fds.push_back(fd);
        return fd;
    }
    // A connected pair whose end of ours reports reads and the close.
    void connectReading() {
        connectPair();
        endpoint.Select(ours, kEventRead | kEventClose);
    }
    void connectPair() {
        theirs = keep(client::connectTo(port));
        ours = keep(::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    }
    // Lets every notice that is due arrive: several passes, each waiting a little.
    void settle() {
        for (int i = 0; i < 5; ++i)
            WaitThreadEvents(20);
    }
    // As the socket object connects: registered first, then the attempt, then the notice asked
    // for (or the failure posted at once, when the attempt failed at once).
    void startConnecting() {
        const int fd = keep(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        endpoint.Select(fd, kEventRead | kEventWrite | kEventConnect | kEventClose);
        const sockaddr_in address = client::loopback(port);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
            errno == EINPROGRESS)
            endpoint.ConnectStarted();
        else
            endpoint.Post(fd, kEventConnect, ErrnoToSocketError(errno));
    }
    // The peer sends `data`, then ends its side; what is due after each step arrives.
    void peerSendsThenCloses(const std::string& data) {
        ::send(theirs, data.data(), data.size(), 0);
        settle();
        ::shutdown(theirs, SHUT_WR);
        settle();
        settle();
    }
    void drain() {
        char buffer[256];
        while (::recv(ours, buffer, sizeof(buffer), 0) > 0) {
        }
    }
};

struct Row {
    const char* rule;
    std::function<void(Scene&)> play;
    std::vector<std::string> notices;
};

const std::vector<Row> kRows = {
    {"write: once when a connection is registered, not again by itself",
     [](Scene& s) {
         s.connectPair();
         s.endpoint.Select(s.ours, kEventRead | kEventWrite | kEventClose);
         s.settle();
         s.settle();
     },
     {"write"}},
    {"read: once when data arrive, again only after the object has read",
     [](Scene& s) {
         s.connectReading();
         ::send(s.theirs, "abc", 3, 0);
         s.settle();
         ::send(s.theirs, "def", 3, 0); // unread data: no second notice
         s.settle();
         s.drain();
         s.endpoint.ReadDone(); // read, nothing left: no notice until more comes
         s.settle();
         ::send(s.theirs, "ghi", 3, 0);
         s.settle();
     },
     {"read", "read"}},
    {"read: after a read that leaves data, at once again",
     [](Scene& s) {
         s.connectReading();
         ::send(s.theirs, "abcdef", 6, 0);
         s.settle();
         char one;
         ::recv(s.ours, &one, 1, 0);
         s.endpoint.ReadDone();
         s.settle();
     },
     {"read", "read"}},
    {"close: once when the peer closes, although its data were never read",
     [](Scene& s) {
         s.connectReading();
         s.peerSendsThenCloses("abc");
     },
     {"read", "close"}},
    {"close: once when the peer closes after everything was read",
     [](Scene& s) {
         s.connectReading();
         s.sink.react = [&s](int) {
             s.drain();
             s.endpoint.ReadDone();
         };
         s.peerSendsThenCloses("abc");
     },
     {"read", "close"}},
    {"accept: when one is pending, not again until the handler accepts, then again while more "
     "wait",
     [](Scene& s) {
         s.endpoint.Select(s.listening, kEventAccept);
         s.keep(client::connectTo(s.port));
         s.keep(client::connectTo(s.port));
         s.settle(); // not accepted: one notice only
         s.keep(::accept4(s.listening, nullptr, nullptr, SOCK_CLOEXEC));
         s.endpoint.AcceptDone();
         s.settle(); // one more waits
         s.keep(::accept4(s.listening, nullptr, nullptr, SOCK_CLOEXEC));
         s.endpoint.AcceptDone();
         s.settle(); // none left
     },
     {"accept", "accept"}},
    {"connect: once, with 0, followed by the first write",
     [](Scene& s) {
         s.startConnecting();
         s.settle();
         s.settle();
     },
     {"connect", "write"}},
    {"connect: once, with the failure's code",
     [](Scene& s) {
         ::close(s.listening); // nothing listens on the port any more
         s.fds.erase(s.fds.begin());
         s.startConnecting();
         s.settle();
         s.settle();
     },
     {"connect 10061"}},
    {"nothing while paused (the empty set), the waiting data's notice after it",
     [](Scene& s) {
         s.connectReading();
         s.endpoint.Select(s.ours, 0);
         ::send(s.theirs, "abc", 3, 0);
         s.settle();
         s.endpoint.Select(s.ours, kEventRead | kEventClose);
         s.settle();
     },
     {"read"}},
};

} // namespace

// A server's worker whose peer has gone by the time it closes ends without another pump: the
// notices its endpoint queued to itself must go with the endpoint, not stay on the thread's list
// for every connection the thread serves after it.
TEST(EventSourceRules, NoticesOfAnEndpointThatGoesLeaveNothingOnTheThreadsList) {
    const int before = QueuedSelfPosts();
    for (int i = 0; i < 50; ++i) {
        Recorder sink;
        SocketEndpoint endpoint(&sink);
        endpoint.SetSelfPumped(true);
        endpoint.Post(-1, kEventWrite, 0);
        endpoint.Post(-1, kEventClose, 0);
    }
    EXPECT_EQ(QueuedSelfPosts(), before);

    // An endpoint that stays keeps its notices, in order, behind those that went.
    Recorder kept;
    SocketEndpoint staying(&kept);
    staying.SetSelfPumped(true);
    staying.Post(-1, kEventRead, 0);
    {
        Recorder sink;
        SocketEndpoint going(&sink);
        going.SetSelfPumped(true);
        going.Post(-1, kEventClose, 0);
        staying.Post(-1, kEventWrite, 0);
    }
    EXPECT_EQ(QueuedSelfPosts(), before + 3) << "a blanked entry between two live ones waits";
    PumpThreadEvents();
    EXPECT_THAT(kept.log, ElementsAreArray({"read", "write"}));
    EXPECT_EQ(QueuedSelfPosts(), 0);
}

TEST(EventSourceRules, EachNoticeComesWhenItsRuleSays) {
    for (const Row& row : kRows) {
        Scene scene;
        row.play(scene);
        EXPECT_THAT(scene.sink.log, ElementsAreArray(row.notices)) << row.rule;
    }
}
