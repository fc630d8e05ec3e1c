#include "SocketTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <thread>

using namespace sockettest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 1514) % 26);
    return s;
}

// Small transport buffers make "the transport is full" certain with a few MiB.
constexpr int kSmallBuffer = 32 * 1024;

// An adopted connection that has already had its first write notification.
struct Connected {
    AdoptedPair pair;
    ProbeSocket s;
    int handle;
    explicit Connected(bool multiThreaded = true, bool smallBuffers = false)
        : pair(smallBuffers ? kSmallBuffer : 0), handle(pair.AcceptHandle()) {
        s.RecordAll();
        if (smallBuffers)
            ::setsockopt(handle, SOL_SOCKET, SO_SNDBUF, &kSmallBuffer, sizeof kSmallBuffer);
        s.Dup(handle);
        s.SetMultiThreaded(multiThreaded);
        PumpUntil([&] { return s.Count("sent 0") == 1; });
        s.log.clear();
    }
    void AwaitPending(int bytes) {
        PumpUntil([&] { return s.RcvdCount() >= bytes; });
    }
};

// A wait object that runs the thread's events until stopped, as a modal countdown would.
class FakeWait : public TWait {
public:
    Log calls;
    bool running = false;
    void SetCaption(const std::string& seconds) override { calls.push_back("caption " + seconds); }
    void Show() override { calls.push_back("show"); }
    void Hide() override { calls.push_back("hide"); }
    void Start() override {
        calls.push_back("start");
        running = true;
    }
    void Stop() override {
        calls.push_back("stop");
        running = false;
    }
    void ShowModal() override {
        calls.push_back("modal");
        running = true;
        PumpUntil([&] { return !running; });
    }
    bool Running() const override { return running; }
};

} // namespace

// A datagram socket sends each block of the queue as a datagram of its own: the datagrams show
// how a send is cut into blocks of 1514 bytes.
TEST(SendQueue, DatagramsFollowTheBlocksOf1514) {
    const DatagramPair pair;
    ProbeSocket s;
    ASSERT_TRUE(pair.Connect(s));
    const std::string data = Pattern(4000);
    EXPECT_EQ(s.Send(data.data(), 4000), 4000);
    Log datagrams;
    for (int i = 0; i < 3; ++i)
        datagrams.push_back(pair.receiver.ReadDatagram());
    EXPECT_THAT(datagrams,
                ElementsAre(data.substr(0, 1514), data.substr(1514, 1514), data.substr(3028)));
}

TEST(Send, DataSentFollowsFromTheEventLoopNeverInsideSend) {
    Connected c;
    EXPECT_EQ(c.s.SendText("hello"), 5);
    EXPECT_TRUE(c.s.log.empty());
    ASSERT_TRUE(PumpUntil([&] { return c.s.Count("sent 0") == 1; }));
    EXPECT_EQ(c.pair.client.ReadExactly(5), "hello");
}

TEST(Send, EmptySendBeforeAnyDataStillEndsInDataSent) {
    Connected c;
    EXPECT_EQ(c.s.Send(nullptr, 0), 0);
    ASSERT_TRUE(PumpUntil([&] { return c.s.Count("sent 0") == 1; }));
    EXPECT_EQ(c.s.SendText("x"), 1); // the empty send put nothing before it
    EXPECT_EQ(c.pair.client.ReadExactly(1), "x");
}

TEST(Send, PartialSendsGoOutInOrderAndDataSentOnlyAfterTheLastByte) {
    constexpr size_t kSize = 4 << 20;
    Connected c(true, true);
    const std::string data = Pattern(kSize);
    EXPECT_EQ(c.s.Send(data.data(), static_cast<int32_t>(kSize)), static_cast<int32_t>(kSize));
    PumpFor(100); // nobody reads yet: the transport cannot have taken 4 MiB
    EXPECT_THAT(c.s.log, IsEmpty());

    std::string received;
    std::thread reader([&] { received = c.pair.client.ReadExactly(kSize); });
    ASSERT_TRUE(PumpUntil([&] { return c.s.Count("sent 0") == 1; }));
    reader.join();
    EXPECT_EQ(received.size(), kSize);
    EXPECT_TRUE(received == data);
    PumpFor(50);
    EXPECT_THAT(c.s.log, ElementsAre("sent 0"));
}

TEST(Send, QueuedBytesNeverReachTheNextPeer) {
    Connected c(true, true);
    const std::string data = Pattern(4 << 20);
    c.s.Send(data.data(), static_cast<int32_t>(data.size()));
    PumpFor(50);
    ASSERT_THAT(c.s.log, IsEmpty()) << "the transport took everything: nothing is queued";
    c.s.Abort();

    AdoptedPair next;
    c.s.Dup(next.AcceptHandle());
    PumpFor(100);
    c.s.SendText("fresh");
    PumpUntil([&] { return c.s.Count("sent 0") == 2; });
    EXPECT_EQ(next.client.ReadExactly(6, 500), "fresh");
    EXPECT_THAT(c.s.log, ElementsAre("state 4>7", "closed 0", "state 7>4", "sent 0", "sent 0"));
}

// Bytes left pending by a notice nobody took wait for the object's next read; the notice that
// follows hands them all over, however often the handler must be called for it.
TEST(Receive, EverythingPendingIsDeliveredInOneNotification) {
    Connected c;
    const std::string data = Pattern(10001);
    c.pair.client.SendAll(data);
    c.AwaitPending(10001); // without a handler, nothing is taken meanwhile
    std::vector<int> pendingAtCall;
    std::string received;
    c.s.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        if (pendingAtCall.empty()) // an event queued now runs only once the notification is over
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { pendingAtCall.push_back(-1); },
                Qt::QueuedConnection);
        pendingAtCall.push_back(s->RcvdCount());
        char buf[1000];
        const int n = s->Receive(buf, sizeof buf);
        received.append(buf, static_cast<size_t>(std::max(n, 0)));
    };
    char first = 0;
    ASSERT_EQ(c.s.Receive(&first, 1), 1);
    platform::PumpThreadEvents();
    EXPECT_EQ(first + received, data);
    EXPECT_THAT(pendingAtCall,
                ElementsAre(10000, 9000, 8000, 7000, 6000, 5000, 4000, 3000, 2000, 1000, -1));
    EXPECT_EQ(c.s.ReadCount(), 10001);
}

TEST(Receive, HandlerExceptionEndsTheDeliveryAndGoesNoFurther) {
    Connected c;
    int calls = 0;
    c.s.OnDataAvailable = [&](TCustomWSocket*, uint16_t) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    c.pair.client.SendAll("abc");
    EXPECT_NO_THROW(PumpUntil([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(c.s.State(), wsConnected);
}

TEST(Receive, WithoutHandlerBytesStayPending) {
    Connected c;
    c.pair.client.SendAll("abcdef");
    c.AwaitPending(6);
    PumpFor(50);
    EXPECT_EQ(c.s.RcvdCount(), 6);
    EXPECT_EQ(c.s.ReadCount(), 0);
}

TEST(ReadLine, CollectsALineWithoutItsEnd) {
    Connected c;
    c.pair.client.SendAll("abc\r\nrest");
    std::string line;
    c.s.ReadLine(5, line);
    EXPECT_EQ(line, "abc");
    c.AwaitPending(4);
    EXPECT_EQ(c.s.RcvdCount(), 4);
}

TEST(ReadLine, CutsALongLineAt254AndSaysSoOnce) {
    Connected c;
    int tooLong = 0;
    c.s.OnLineTooLong = [&](TCustomWSocket*) { ++tooLong; };
    c.pair.client.SendAll(std::string(300, 'x'));
    c.AwaitPending(300);
    std::string line;
    c.s.ReadLine(5, line);
    EXPECT_EQ(line, std::string(254, 'x'));
    EXPECT_EQ(tooLong, 1);
    EXPECT_EQ(c.s.RcvdCount(), 46);
}

// The line comes later, from another thread: a multithreaded object waits on its own events, a
// single-threaded one runs its wait object until the line is complete.
TEST(ReadLine, WaitsForTheLineToArrive) {
    const struct {
        bool multiThreaded;
        const char* sent;
        int timeout;
        Log waitCalls;
    } cases[] = {{true, "late\n", 10, {}},
                 {false, "late\r\n", 5, {"caption 5", "show", "modal", "stop", "hide"}}};
    for (const auto& k : cases) {
        Connected c(k.multiThreaded);
        FakeWait wait;
        c.s.SetWaitCtrl(&wait);
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            c.pair.client.SendAll(k.sent);
        });
        std::string line;
        c.s.ReadLine(k.timeout, line);
        later.join();
        EXPECT_EQ(line, "late") << k.multiThreaded;
        EXPECT_EQ(wait.calls, k.waitCalls) << k.multiThreaded;
    }
}

TEST(Wait, ForTheCurrentStateIsTrueAtOnceAndZeroTimeoutIsFalse) {
    Connected c;
    EXPECT_TRUE(c.s.Wait(5, wsConnected));
    EXPECT_FALSE(c.s.Wait(0, wsClosed));
    c.pair.client.Close();
    EXPECT_TRUE(c.s.Wait(10, wsClosed));
}

TEST(Wait, SingleThreadedNeedsAWaitObject) {
    Connected c(false);
    c.s.OnError = nullptr;
    try {
        c.s.Wait(1, wsClosed);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 11004 in function TWSocket.Wait\r\nNo Data");
    }
    std::string line = "unchanged";
    EXPECT_THROW(c.s.ReadLine(1, line), ESocketException);
    EXPECT_EQ(line, "unchanged");
    EXPECT_THROW(c.s.Flush(), ESocketException);
}

TEST(Wait, SingleThreadedRunsTheWaitObjectUntilTheStateComes) {
    Connected c(false);
    FakeWait wait;
    c.s.SetWaitCtrl(&wait);
    c.pair.client.Close();
    EXPECT_TRUE(c.s.Wait(7, wsClosed));
    EXPECT_THAT(wait.calls, ElementsAre("caption 7", "show", "modal", "stop", "hide"));
}

TEST(Wait, ASocketForgetsADestroyedWaitObject) {
    TWSocket s;
    {
        FakeWait wait;
        s.SetWaitCtrl(&wait);
    }
    EXPECT_EQ(s.WaitCtrl(), nullptr);
}

TEST(Flush, SendsEverythingWhileThePeerReads) {
    for (const bool multiThreaded : {true, false}) {
        Connected c(multiThreaded, true);
        FakeWait wait;
        c.s.SetWaitCtrl(&wait);
        const std::string data = Pattern(2 << 20);
        c.s.Send(data.data(), static_cast<int32_t>(data.size()));
        std::string received;
        std::thread reader([&] { received = c.pair.client.ReadExactly(data.size()); });
        c.s.Flush();
        reader.join();
        EXPECT_TRUE(received == data);
        ASSERT_TRUE(PumpUntil([&] { return c.s.Count("sent 0") == 1; })) << multiThreaded;
        EXPECT_THAT(c.s.log, ElementsAre("sent 0"));
        const Log shown{"caption 60", "show", "start", "stop", "hide"};
        EXPECT_EQ(wait.calls, multiThreaded ? Log{} : shown);
    }
}

TEST(Dispatch, AHandlersExceptionLeavesThePumpNotTheEventLoop) {
    Connected c;
    c.s.OnDataSent = [](TCustomWSocket*, uint16_t) { throw ESocketException("from handler"); };
    c.s.SendText("x");
    try {
        PumpUntil([] { return false; }, 2000);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "from handler");
    }
    std::string shown;
    platform::SetSocketErrorDisplay([&](const std::string& text) { shown = text; });
    c.s.SendText("y");
    // Outside any pump of the layer (as in the main loop) the failure is shown instead.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    platform::SetSocketErrorDisplay(nullptr);
    EXPECT_EQ(shown, "from handler");
}

// A multithreaded socket's own notices skip the toolkit's queue; a thread that runs the toolkit's
// loop instead of this layer's waits must still get them, and a socket that goes away with
// notices still queued must leave nothing behind that would be delivered to it.
TEST(Dispatch, SelfPostedNoticesReachTheToolkitsLoopAndDieWithTheirSocket) {
    {
        Connected c;
        QEventLoop loop;
        c.s.OnDataSent = [&](TCustomWSocket*, uint16_t) { loop.quit(); };
        c.s.SendText("x");
        QTimer::singleShot(kPatienceMs, &loop, &QEventLoop::quit);
        QElapsedTimer waited;
        waited.start();
        loop.exec();
        EXPECT_LT(waited.elapsed(), kPatienceMs);
    }
    int sent = 0;
    {
        Connected c;
        c.s.OnDataSent = [&](TCustomWSocket*, uint16_t) { ++sent; };
        c.s.SendText("y");
    }
    PumpFor(50);
    EXPECT_EQ(sent, 0);
}

// The transport options a server sets on a connection, and what the peer has not taken yet.
TEST(WSocketTransport, OptionsAndBytesTheyHaveNotTaken) {
    Connected c(true, true);
    const auto option = [&](int name) {
        int value = -1;
        socklen_t length = sizeof value;
        ::getsockopt(c.handle, IPPROTO_TCP, name, &value, &length);
        return value;
    };
    c.s.SetNoDelay(true);
    EXPECT_EQ(option(TCP_NODELAY), 1);
    c.s.SetCork(true);
    EXPECT_EQ(option(TCP_CORK), 1);
    c.s.SetCork(false);
    EXPECT_EQ(option(TCP_CORK), 0);

    EXPECT_EQ(c.s.QueuedBytes(), 0u);
    const std::string data = Pattern(4 * 1024 * 1024);
    c.s.Send(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_GT(c.s.QueuedBytes(), 0u) << "the peer reads nothing: the transport is full";
    EXPECT_GT(c.s.UnsentBytes(), c.s.QueuedBytes()) << "and holds bytes of its own";
    std::string received;
    std::thread reader([&] { received = c.pair.client.ReadExactly(data.size()); });
    EXPECT_TRUE(PumpUntil([&] { return c.s.UnsentBytes() == 0; }));
    reader.join();
    EXPECT_EQ(received, data);
}

// A send made while earlier bytes wait in the queue goes behind them, never straight to the
// transport past them, even when the transport has room again: the peer gets all of A before B.
TEST(Send, ALaterSendNeverOvertakesQueuedBytes) {
    // Ordinary transport buffers: tiny ones can stall the connection for seconds once the reader
    // pauses, which says nothing about the order.
    constexpr size_t kFirstRead = 1 << 20;
    constexpr int kPromptMs = 5000; // bytes that went astray fail the test in seconds
    Connected c(true, false);
    const std::string a = Pattern(16 << 20);
    const std::string b = "and then B";
    c.s.Send(a.data(), static_cast<int32_t>(a.size()));
    ASSERT_GT(c.s.QueuedBytes(), 0u) << "the transport took everything: nothing is queued";
    std::string received;
    std::atomic<bool> roomMade = false;
    std::thread reader([&] {
        received = c.pair.client.ReadExactly(kFirstRead, kPromptMs);
        roomMade = true;
        received += c.pair.client.ReadExactly(a.size() + b.size() - kFirstRead, kPromptMs);
    });
    // No events are run meanwhile, so the queue has not been sent on into the room the reader
    // made: only B could take it.
    while (!roomMade)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c.s.SendText(b);
    const bool allSent = PumpUntil([&] { return c.s.Count("sent 0") == 1; }, kPromptMs);
    reader.join();
    ASSERT_TRUE(allSent);
    ASSERT_EQ(received.size(), a.size() + b.size());
    EXPECT_TRUE(received.compare(0, a.size(), a) == 0) << "B reached the peer inside A";
    EXPECT_EQ(received.substr(a.size()), b);
}

// A peer that reset the connection ends it: the send closes the socket with its close notice,
// and reports no error, since nothing the program did went wrong.
TEST(Send, ASendToAPeerThatResetClosesTheSocketWithoutAnError) {
    Connected c;
    c.pair.client.Reset();
    // The reset has arrived once the transport shows it; no notice has been pumped yet.
    ASSERT_TRUE(TransportShows(c.handle, POLLHUP));
    c.s.SendText("too late");
    ASSERT_TRUE(PumpUntil([&] { return c.s.State() == wsClosed; }, 5000));
    EXPECT_EQ(c.s.Count("error"), 0);
    EXPECT_EQ(std::count_if(c.s.log.begin(), c.s.log.end(),
                            [](const std::string& e) { return e.rfind("closed", 0) == 0; }),
              1)
        << ::testing::PrintToString(c.s.log);
}
