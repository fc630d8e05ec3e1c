#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sockettest;
using Log = std::vector<std::string>;

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

// An adopted connection whose data handler logs each call and, when told to, reads 4 bytes and
// logs what the read gave.
struct Peer {
    AdoptedPair pair;
    ProbeSocket s;
    std::string received;
    bool reads = true;
    Peer(bool multiThreaded, bool endsInput = false, bool switchFirst = true) {
        s.RecordAll();
        s.OnDataAvailable = [this](TCustomWSocket* sender, uint16_t) {
            s.log.push_back("data");
            char buf[4] = {};
            const int n = reads ? sender->Receive(buf, sizeof buf) : -1;
            if (reads)
                s.log.push_back("read " + std::to_string(n));
            received.append(buf, static_cast<size_t>(std::max(n, 0)));
        };
        s.SetMultiThreaded(multiThreaded);
        s.SetPeerCloseEndsInput(endsInput && switchFirst);
        s.Dup(pair.AcceptHandle());
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
    for (const int handler : {0, 1, 2}) { // reads, does not read, none
        Peer p(GetParam());
        p.reads = handler == 0;
        if (handler == 2)
            p.s.OnDataAvailable = nullptr;
        p.pair.client.SendAll("abc");
        EXPECT_TRUE(StaysQuiet());
        EXPECT_EQ(p.s.Count("data"), handler < 2 ? 1u : 0u);
        EXPECT_EQ(EpollInstances(), before + (handler > 0)) << handler;
        ::shutdown(p.pair.client.fd(), SHUT_WR);
        ASSERT_TRUE(PumpUntil([&] { return p.s.State() == wsClosed; })) << handler;
        ASSERT_GE(p.s.log.size(), 2u);
        EXPECT_EQ(Log(p.s.log.end() - 2, p.s.log.end()), (Log{"closed 0", "state 4>7"}));
        EXPECT_EQ(p.s.Count("closed 0"), 1u);
        EXPECT_EQ(p.received, handler == 0 ? "abc" : "");
        EXPECT_EQ(EpollInstances(), before);
    }
}

// A client that shuts down its sending side after the request still waits for the answer.
TEST_P(PeerClose, WithTheSwitchOnAHalfCloseEndsOnlyTheInput) {
    for (const bool switchFirst : {true, false}) {
        Peer p(GetParam(), true, switchFirst);
        p.pair.client.SendAll("request");
        ::shutdown(p.pair.client.fd(), SHUT_WR);
        ASSERT_TRUE(PumpUntil([&] { return p.s.Count("read 0") == 1; }));
        EXPECT_EQ(p.received, "request");
        EXPECT_TRUE(p.s.PeerInputEnded());
        const size_t calls = p.s.Count("data");
        p.s.Pause();
        p.s.Resume();
        EXPECT_TRUE(StaysQuiet()); // the end stays readable: it must not be reported again
        EXPECT_EQ(p.s.Count("data"), calls);
        EXPECT_EQ(p.s.SendText("answer"), 6);
        EXPECT_EQ(p.pair.client.ReadExactly(6), "answer");
        EXPECT_EQ(p.s.State(), wsConnected);
    }
}

// Bytes left unread before the end hold it back; once read, outside a notice too, the end comes.
TEST_P(PeerClose, WithTheSwitchOnTheEndFollowsTheBytesBeforeIt) {
    Peer p(GetParam(), true);
    p.reads = false;
    p.pair.client.SendAll("x");
    ASSERT_TRUE(PumpUntil([&] { return p.s.Count("data") == 1; }));
    ::shutdown(p.pair.client.fd(), SHUT_WR);
    ASSERT_TRUE(PumpUntil([&] { return p.s.Count("data") == 2; }));
    EXPECT_FALSE(p.s.PeerInputEnded());
    char c = 0;
    EXPECT_EQ(p.s.Receive(&c, 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return p.s.PeerInputEnded(); }));
    EXPECT_TRUE(StaysQuiet());
    EXPECT_EQ(p.s.Count("data"), 3u);
    EXPECT_EQ(p.s.State(), wsConnected);
}

// A broken connection closes the object whatever the switch says: a reset before the end of
// input or after it, or one that answers a send to a peer that has gone.
TEST_P(PeerClose, WithTheSwitchOnABrokenConnectionStillCloses) {
    for (const int when : {0, 1, 2}) {
        Peer p(GetParam(), true);
        p.pair.client.SendAll("x");
        if (when == 1)
            ::shutdown(p.pair.client.fd(), SHUT_WR);
        else if (when == 2)
            p.pair.client.Close();
        ASSERT_TRUE(PumpUntil([&] { return p.s.PeerInputEnded() || when == 0; })) << when;
        if (when == 2) {
            p.s.SendText("answer");
        } else {
            const linger drop{1, 0};
            ::setsockopt(p.pair.client.fd(), SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
            p.pair.client.Close();
        }
        ASSERT_TRUE(PumpUntil([&] { return p.s.State() == wsClosed; })) << when;
        EXPECT_EQ(p.s.Count("closed 10054"), 1u) << when;
    }
}

INSTANTIATE_TEST_SUITE_P(Threading, PeerClose, ::testing::Bool());
