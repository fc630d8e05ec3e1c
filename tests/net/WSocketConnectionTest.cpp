#include "SocketTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace sockettest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(WSocketConnect, RefusedConnectionEndsClosedWithTheCodeInOrder) {
    ProbeSocket s;
    s.RecordAll();
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(FreePort()));
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
    EXPECT_THAT(s.log, ElementsAre("state 7>1", "state 1>3", "state 3>4", "connected 10061",
                                   "state 4>7", "closed 0"));
    EXPECT_FALSE(HoldsAHandle(s));
}

TEST(WSocketConnect, ConnectsAndTellsItMaySend) {
    uint16_t port = 0;
    RawSocket listener = RawSocket::ListenAny(&port);
    ProbeSocket s;
    s.RecordAll();
    s.SetAddr("localhost");
    s.SetPort(std::to_string(port));
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return s.Count("sent 0") == 1; }));
    EXPECT_THAT(s.log, ElementsAre("state 7>1", "state 1>3", "state 3>4", "connected 0", "sent 0"));
    EXPECT_EQ(s.GetPeerAddress(), "127.0.0.1");
    s.OnError = nullptr;
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(s.State(), wsConnected);
}

TEST(WSocketConnect, RefusesToStartWithoutPortOrAddress) {
    TWSocket s;
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("80");
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No IP Address Specified");
    EXPECT_EQ(s.State(), wsClosed);
}

// The last bytes and the close arrive together: the close hands the bytes over first.
TEST(WSocketConnect, PeerCloseDeliversDataThenClosedThenStateChange) {
    AdoptedPair pair;
    ProbeSocket s;
    s.RecordAll();
    s.RecordReads();
    const int handle = pair.AcceptHandle();
    s.Dup(handle);
    ASSERT_TRUE(PumpUntil([&] { return s.Count("sent 0") == 1; }));
    s.log.clear();
    pair.client.SendAll("bye");
    pair.client.Close();
    ASSERT_TRUE(TransportShows(handle, POLLRDHUP));
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(s.received, "bye");
    EXPECT_THAT(s.log, ElementsAre("data", "read 3", "closed 0", "state 4>7"));
}

TEST(WSocketConnect, LocalCloseChangesStateThenClosedAndOnlyOnce) {
    AdoptedPair pair;
    ProbeSocket s;
    s.RecordAll();
    s.Dup(pair.AcceptHandle());
    s.log.clear();
    s.Close();
    EXPECT_THAT(s.log, ElementsAre("state 4>7", "closed 0"));
    s.Close();
    s.Abort();
    EXPECT_THAT(s.log, ElementsAre("state 4>7", "closed 0"));
    EXPECT_TRUE(pair.client.SeesClose());
}

TEST(WSocketConnect, DupFiresOneChangeAndClosedOncePerConnection) {
    ProbeSocket s;
    s.RecordAll();
    AdoptedPair first;
    s.Dup(first.AcceptHandle());
    EXPECT_THAT(s.log, ElementsAre("state 7>4"));
    ASSERT_TRUE(PumpUntil([&] { return s.Count("sent 0") == 1; }));

    first.client.Close();
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
    s.Close();
    EXPECT_THAT(s.log, ElementsAre("state 7>4", "sent 0", "closed 0", "state 4>7"));

    AdoptedPair second;
    s.log.clear();
    s.Dup(second.AcceptHandle());
    s.Close();
    EXPECT_THAT(s.log, ElementsAre("state 7>4", "state 4>7", "closed 0"));
}

TEST(WSocketConnect, DupReplacesALiveConnectionWithoutClosedEvent) {
    ProbeSocket s;
    s.RecordAll();
    AdoptedPair first, second;
    s.Dup(first.AcceptHandle());
    s.log.clear();
    s.Dup(second.AcceptHandle());
    EXPECT_THAT(s.log, ElementsAre("state 4>7", "state 7>4"));
    EXPECT_TRUE(first.client.SeesClose());
}

TEST(WSocketConnect, DupRefusesNoHandle) {
    ProbeSocket s;
    s.RecordAll();
    s.OnError = nullptr;
    EXPECT_EQ(ExceptionText([&] { s.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(ExceptionText([&] { s.Dup(-1); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_THAT(s.log, IsEmpty());
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketListen, OnPortZeroTellsThePortAndAnnouncesSessions) {
    ProbeSocket server;
    server.RecordAll();
    int accepted = -1;
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t error) {
        EXPECT_EQ(error, 0);
        accepted = sender->Accept();
    };
    const uint16_t port = ListenOnLoopback(server);
    ASSERT_GT(port, 0);
    EXPECT_THAT(server.log, ElementsAre("state 7>2", "state 2>6"));
    RawSocket client = RawSocket::ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return accepted >= 0; }));
    EXPECT_EQ(server.State(), wsListening);
    RawSocket adopted(accepted);
    adopted.SendAll("x");
    EXPECT_EQ(client.ReadExactly(1), "x");
}

// One notice per wait for an accept, whether the handler accepts at once, later, or runs a loop
// of its own in between.
TEST(WSocketListen, AnnouncesAgainOnlyAfterAnAccept) {
    ProbeSocket server;
    int notices = 0;
    bool acceptNow = false;
    std::vector<int> accepted;
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
        ++notices;
        if (notices == 2)
            PumpFor(30); // a loop of the handler's own must not bring the notice again
        if (acceptNow)
            accepted.push_back(sender->Accept());
    };
    const uint16_t port = ListenOnLoopback(server);
    RawSocket first = RawSocket::ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return notices == 1; }));
    PumpFor(30);
    EXPECT_EQ(notices, 1);
    RawSocket second = RawSocket::ConnectTo(port);
    accepted.push_back(server.Accept()); // outside a notice: the second is announced next
    ASSERT_TRUE(PumpUntil([&] { return notices == 2; }));
    PumpFor(30);
    EXPECT_EQ(notices, 2);
    acceptNow = true;
    accepted.push_back(server.Accept());
    RawSocket third = RawSocket::ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return accepted.size() == 3; }));
    RawSocket fourth = RawSocket::ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return accepted.size() == 4; }));
    EXPECT_EQ(notices, 4);
    for (const int handle : accepted) {
        EXPECT_GE(handle, 0);
        RawSocket adopted(handle);
    }
}

TEST(WSocketListen, BusyPortReportsBindAndALaterListenSucceeds) {
    uint16_t port = 0;
    RawSocket holder = RawSocket::ListenAny(&port);
    ProbeSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    EXPECT_EQ(ExceptionText([&] { s.Listen(); }),
              "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_FALSE(HoldsAHandle(s));
    holder.Close();
    EXPECT_EQ(s.Listen(), 0);
    EXPECT_EQ(s.GetLocalPort(), std::to_string(port));
}

// A refused call raises its text without an OnError handler; with one it fires it, after any
// change of state it makes, and returns -1.
TEST(WSocketErrors, RefusedCallsRaiseOrReportAndReturnMinusOne) {
    const struct {
        const char* name;
        std::function<int32_t(TCustomWSocket&)> call;
        const char* text;
        Log events;
    } cases[] = {{"Listen without an address",
                  [](TCustomWSocket& s) {
                      s.SetPort("0");
                      return s.Listen();
                  },
                  "Error 10022 in function listen: address not assigned\r\nInvalid argument",
                  {"error"}},
                 {"Accept when not listening",
                  [](TCustomWSocket& s) { return s.Accept(); },
                  "Error 10022 in function not a listening socket\r\nInvalid argument",
                  {"error"}},
                 {"Send on a closed object",
                  [](TCustomWSocket& s) { return s.SendText("x"); },
                  "Error 10057 in function Send\r\nSocket is not connected",
                  {"state 7>7", "error"}}};
    for (const auto& c : cases) {
        ProbeSocket s;
        EXPECT_EQ(ExceptionText([&] { c.call(s); }), c.text) << c.name;
        s.RecordAll();
        EXPECT_EQ(c.call(s), -1) << c.name;
        EXPECT_EQ(s.log, c.events) << c.name;
    }
}

TEST(WSocketPeer, NamesOnlyWhenConnected) {
    ProbeSocket s;
    platform::SockAddrIn name{};
    EXPECT_EQ(s.GetPeerName(name, sizeof name), -1);
    EXPECT_EQ(s.GetPeerAddress(), "error");
    EXPECT_EQ(s.GetLocalPort(), "error");
    AdoptedPair pair;
    s.Dup(pair.AcceptHandle());
    EXPECT_EQ(s.GetPeerName(name, sizeof name), 0);
    EXPECT_EQ(platform::DottedAddress(name.Addr), "127.0.0.1");
    EXPECT_EQ(s.GetLocalPort(), std::to_string(pair.port));
}

// A call that finds the connection gone (the peer's reset, met by asking for its name before any
// notice of it ran) closes the object first and reports then, so that the report's handler sees
// the object closed and its handle given back.
TEST(WSocketErrors, AConnectionFoundGoneClosesFirstThenReports) {
    AdoptedPair pair;
    ProbeSocket s;
    const int handle = pair.AcceptHandle();
    s.Dup(handle);
    pair.client.Reset();
    ASSERT_TRUE(TransportShows(handle, POLLHUP));
    s.RecordAll();
    std::string text;
    s.OnError = [&](TCustomWSocket* sender) {
        s.log.push_back("error");
        text = HoldsAHandle(*sender) ? "handle held" : "handle given back";
    };
    EXPECT_EQ(s.GetPeerAddress(), "error");
    EXPECT_THAT(s.log, ElementsAre("state 4>7", "error"));
    EXPECT_EQ(text, "handle given back");
    EXPECT_FALSE(HoldsAHandle(s));
}

// Destroyed by an owner, the object has its destroying mark: the close is no session event then.
TEST(WSocketLifetime, DestroyingAConnectedObjectFiresItsEvents) {
    for (const bool owned : {false, true}) {
        Log log;
        AdoptedPair pair;
        auto owner = std::make_unique<QObject>();
        auto* s = new TWSocket(owned ? owner.get() : nullptr);
        s->Dup(pair.AcceptHandle());
        s->OnChangeState = [&](TCustomWSocket*, TSocketState o, TSocketState n) {
            log.push_back("state " + std::to_string(o) + ">" + std::to_string(n));
        };
        s->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { log.push_back("closed"); };
        if (owned) {
            owner.reset();
            EXPECT_THAT(log, ElementsAre("state 4>7"));
        } else {
            delete s;
            EXPECT_THAT(log, ElementsAre("state 4>7", "closed"));
        }
        EXPECT_TRUE(pair.client.SeesClose()) << owned;
    }
}

TEST(WSocketLifetime, DestructorSwallowsAFailingClose) {
    AdoptedPair pair;
    auto s = std::make_unique<TWSocket>();
    const int handle = pair.AcceptHandle();
    s->Dup(handle);
    ::close(handle); // the handle vanishes behind the object's back
    EXPECT_NO_THROW(s.reset());
}

// The listener accepts on this thread; each connection is adopted by a worker thread of its own
// that pumps its events, answers and closes, as the server's workers do.
TEST(WSocketThreads, AcceptHereAndDupOnWorkerThreads) {
    constexpr int kClients = 4;
    TWSocket server;
    std::vector<std::thread> workers;
    std::atomic<int> served{0};
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
        const int handle = sender->Accept();
        workers.emplace_back([handle, &served] {
            TWSocket peer;
            std::string request;
            bool sent = false;
            peer.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
                char buf[64];
                const int n = s->Receive(buf, sizeof buf);
                if (n > 0)
                    request.append(buf, static_cast<size_t>(n));
            };
            peer.Dup(handle);
            peer.SetMultiThreaded(true);
            PumpUntil([&] { return request == "ping"; });
            peer.OnDataSent = [&](TCustomWSocket*, uint16_t) { sent = true; };
            peer.SendText("pong:" + request);
            PumpUntil([&] { return sent; });
            peer.Close();
            ++served;
        });
    };
    const uint16_t port = ListenOnLoopback(server);
    std::vector<RawSocket> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(RawSocket::ConnectTo(port));
    ASSERT_TRUE(PumpUntil([&] { return workers.size() == kClients; }));
    for (auto& c : clients)
        c.SendAll("ping");
    for (auto& c : clients) {
        EXPECT_EQ(c.ReadExactly(9), "pong:ping");
        EXPECT_TRUE(c.SeesClose());
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(served.load(), kClients);
}

// Handle numbers come back at once for the next connection: what was known of the old one (its
// close, its queued notifications) must not stick to the new one.
TEST(WSocketConnect, AHandleNumberUsedAgainStartsAfresh) {
    ProbeSocket s;
    s.RecordAll();
    s.RecordReads();
    int handle = -1;
    {
        AdoptedPair closedByPeer;
        handle = closedByPeer.AcceptHandle();
        s.Dup(handle);
        closedByPeer.client.Close();
        ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
    }
    {
        AdoptedPair abandoned;
        EXPECT_EQ(abandoned.AcceptHandle(), handle) << "the system did not reuse the number";
        s.Dup(handle);
        s.SendText("x"); // leaves a write notification queued
        s.Abort();
    }
    AdoptedPair next;
    EXPECT_EQ(next.AcceptHandle(), handle);
    s.log.clear();
    s.Dup(handle);
    next.client.SendAll("again");
    ASSERT_TRUE(PumpUntil([&] { return s.received == "again"; }));
    PumpFor(50);
    EXPECT_THAT(s.log, ElementsAre("state 7>4", "sent 0", "data", "read 4", "data", "read 1"));
}

// A handler that takes every waiting connection in one notice: AcceptNext says quietly when none
// is left, and each accept tells its peer.
TEST(WSocketListen, AcceptNextTakesWhatWaitsAndThenSaysNoneQuietly) {
    ProbeSocket server;
    server.RecordAll();
    const uint16_t port = ListenOnLoopback(server);
    std::vector<RawSocket> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(RawSocket::ConnectTo(port));
    std::vector<int> accepted;
    std::vector<uint16_t> peerPorts;
    int lastError = 0;
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
        for (int handle = sender->Accept(); handle >= 0; handle = sender->AcceptNext()) {
            accepted.push_back(handle);
            peerPorts.push_back(ntohs(sender->AcceptedPeer().Port));
        }
        lastError = platform::LastSocketError();
    };
    ASSERT_TRUE(PumpUntil([&] { return accepted.size() == 3; }));
    EXPECT_EQ(lastError, platform::sockerr::WouldBlock);
    EXPECT_THAT(server.log, ElementsAre("state 7>2", "state 2>6")) << "no error was reported";
    for (size_t i = 0; i < clients.size(); ++i) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(clients[i].fd(), reinterpret_cast<sockaddr*>(&local), &length);
        EXPECT_EQ(peerPorts[i], ntohs(local.sin_port));
        RawSocket adopted(accepted[i]);
    }
}
