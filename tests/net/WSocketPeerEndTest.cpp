#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sockettest;
using Log = std::vector<std::string>;

namespace {

// 10 ms waits over 300 ms: an idle thread makes about 30, one that a source
// keeps ready thousands.
bool StaysQuiet() {
    int waits = 0;
    for (const uint32_t start = platform::TickCount();
         static_cast<int32_t>(platform::TickCount() - start) < 300; ++waits)
        platform::WaitThreadEvents(10);
    return waits < 150;
}

// The watch for a connection's end is an epoll instance; counting them tells
// what it cost.
int EpollInstances() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        count += std::filesystem::read_symlink(entry.path(), ignored) == "anon_inode:[eventpoll]";
    }
    return count;
}

// An adopted connection whose data handler logs each call and, when told to,
// reads 4 bytes and logs what the read gave.
struct Peer {
    AdoptedPair pair;
    ProbeSocket s;
    std::string received;
    bool reads = true;
    explicit Peer(bool multiThreaded) {
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
        s.Dup(pair.AcceptHandle());
        PumpUntil([&] { return s.Count("sent 0") == 1; });
        s.log.clear();
    }
};

class PeerClose : public ::testing::TestWithParam<bool> {}; // multithreaded or not

} // namespace

// The close must not wait for a read the handler may never make, nor may the
// unread bytes keep the thread busy. Only a notice left unread costs a watch,
// given back with the connection.
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

INSTANTIATE_TEST_SUITE_P(Threading, PeerClose, ::testing::Bool());
