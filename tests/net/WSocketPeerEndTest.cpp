#include "SocketTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace sockettest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// 10 ms waits over 300 ms: an idle thread makes about 30, one that a source keeps ready thousands.
bool StaysQuiet() {
    int waits = 0;
    for (const uint32_t start = platform::TickCount();
         static_cast<int32_t>(platform::TickCount() - start) < 300; ++waits)
        platform::WaitThreadEvents(10);
    return waits < 150;
}

// The watch for a connection's end is an epoll instance; counting them tells what it cost.
int EpollInstances() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        count += std::filesystem::read_symlink(entry.path(), ignored) == "anon_inode:[eventpoll]";
    }
    return count;
}

// An adopted connection whose data notices are recorded (see ProbeSocket::RecordReads), past its
// first write notice.
struct Peer {
    AdoptedPair pair;
    ProbeSocket s;
    int handle = -1;
    Peer(bool multiThreaded, bool endsInput = false, bool switchFirst = true) {
        s.RecordAll();
        s.RecordReads();
        s.SetMultiThreaded(multiThreaded);
        s.SetPeerCloseEndsInput(endsInput && switchFirst);
        handle = pair.AcceptHandle();
        s.Dup(handle);
        s.SetPeerCloseEndsInput(endsInput);
        PumpUntil([&] { return s.Count("sent 0") == 1; });
        s.log.clear();
    }
};

class PeerClose : public ::testing::TestWithParam<bool> {}; // multithreaded or not

} // namespace

// The close must not wait for a read the handler may never make, nor may the unread bytes keep
// the thread busy. Only a notice left unread costs a watch, given back with the connection. With
// the switch off, a peer that only stops sending is taken as gone, as before.
TEST_P(PeerClose, ComesOnceWhateverTheHandlerDoesWithTheData) {
    const int before = EpollInstances();
    const Log expected[] = {{"data", "read 3", "data", "read 0", "closed 0", "state 4>7"}, // reads
                            {"data", "data", "closed 0", "state 4>7"}, // does not read
                            {"closed 0", "state 4>7"}};                // none
    for (const int handler : {0, 1, 2}) {
        Peer p(GetParam());
        p.s.reads = handler == 0;
        if (handler == 2)
            p.s.OnDataAvailable = nullptr;
        p.pair.client.SendAll("abc");
        EXPECT_TRUE(StaysQuiet());
        EXPECT_EQ(EpollInstances(), before + (handler > 0)) << handler;
        ::shutdown(p.pair.client.fd(), SHUT_WR);
        ASSERT_TRUE(PumpUntil([&] { return p.s.State() == wsClosed; })) << handler;
        EXPECT_THAT(p.s.log, ElementsAreArray(expected[handler])) << handler;
        EXPECT_EQ(p.s.received, handler == 0 ? "abc" : "");
        EXPECT_EQ(EpollInstances(), before);
    }
}

// A client that shuts down its sending side after the request still waits for the answer.
TEST_P(PeerClose, WithTheSwitchOnAHalfCloseEndsOnlyTheInput) {
    for (const bool switchFirst : {true, false}) {
        Peer p(GetParam(), true, switchFirst);
        p.pair.client.SendAll("request");
        ::shutdown(p.pair.client.fd(), SHUT_WR);
        ASSERT_TRUE(TransportShows(p.handle, POLLRDHUP));
        ASSERT_TRUE(PumpUntil([&] { return p.s.Count("read 0") == 1; }));
        EXPECT_EQ(p.s.received, "request");
        EXPECT_TRUE(p.s.PeerInputEnded());
        p.s.Pause();
        p.s.Resume();
        EXPECT_TRUE(StaysQuiet()); // the end stays readable: it must not be reported again
        EXPECT_THAT(p.s.log,
                    ElementsAre("data", "read 4", "data", "read 3", "data", "read 0", "sent 0"))
            << switchFirst;
        EXPECT_EQ(p.s.SendText("answer"), 6);
        EXPECT_EQ(p.pair.client.ReadExactly(6), "answer");
        EXPECT_EQ(p.s.State(), wsConnected);
    }
}

// Bytes left unread before the end hold it back; once read, outside a notice too, the end comes.
TEST_P(PeerClose, WithTheSwitchOnTheEndFollowsTheBytesBeforeIt) {
    Peer p(GetParam(), true);
    p.s.reads = false;
    p.pair.client.SendAll("x");
    ASSERT_TRUE(PumpUntil([&] { return p.s.Count("data") == 1; }));
    ::shutdown(p.pair.client.fd(), SHUT_WR);
    ASSERT_TRUE(PumpUntil([&] { return p.s.Count("data") == 2; }));
    EXPECT_FALSE(p.s.PeerInputEnded());
    char c = 0;
    EXPECT_EQ(p.s.Receive(&c, 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return p.s.PeerInputEnded(); }));
    EXPECT_TRUE(StaysQuiet());
    EXPECT_THAT(p.s.log, ElementsAre("data", "data", "data"));
    EXPECT_EQ(p.s.State(), wsConnected);
}

// A broken connection closes the object whatever the switch says: a reset before the end of
// input or after it, or one that answers a send to a peer that has gone.
TEST_P(PeerClose, WithTheSwitchOnABrokenConnectionStillCloses) {
    const Log expected[] = {
        {"data", "read 1", "data", "read 0", "closed 10054", "state 4>7"},
        {"data", "read 1", "data", "read 0", "data", "read 0", "closed 10054", "state 4>7"},
        {"data", "read 1", "data", "read 0", "sent 0", "data", "read 0", "closed 10054",
         "state 4>7"}};
    for (const int when : {0, 1, 2}) {
        Peer p(GetParam(), true);
        p.pair.client.SendAll("x");
        if (when == 1)
            ::shutdown(p.pair.client.fd(), SHUT_WR);
        else if (when == 2)
            p.pair.client.Close();
        ASSERT_TRUE(PumpUntil([&] {
            return when == 0 ? p.s.received == "x" : p.s.PeerInputEnded();
        })) << when;
        if (when == 2)
            p.s.SendText("answer");
        else
            p.pair.client.Reset();
        ASSERT_TRUE(PumpUntil([&] { return p.s.State() == wsClosed; })) << when;
        EXPECT_THAT(p.s.log, ElementsAreArray(expected[when])) << when;
    }
}

INSTANTIATE_TEST_SUITE_P(Threading, PeerClose, ::testing::Bool());
