// Stopping and starting while requests and plug-in calls run: the listener in this process,
// stopped and started over and over under client threads; then the whole program ended while it
// is serving.
#include "load/LoadSupport.h"
#include "platform/Thread.h"
#include "server/ServerFixture.h"
#include "support/LoopbackPorts.h"

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

namespace {

// What the nap module reports: loads, shutdowns, real unmappings, calls, and how many calls were
// still running when it was shut down or unmapped (must stay 0).
std::atomic<int> gLoads{0};
std::atomic<int> gShutdowns{0};
std::atomic<int> gUnmapped{0};
std::atomic<int> gCalls{0};
std::atomic<int> gReleasedUnderCall{0};

} // namespace

extern "C" __attribute__((visibility("default"))) void KoruLoadEvent(const char* event, int value) {
    const std::string_view name = event;
    if (name == "init")
        ++gLoads;
    else if (name == "call")
        ++gCalls;
    else if (name == "done" || name == "unmapped") {
        ++(name == "done" ? gShutdowns : gUnmapped);
        gReleasedUnderCall += value;
    }
}

namespace {

using namespace load;

void Note(const std::string& text) {
    std::printf("[ figures  ] %s\n", text.c_str());
    std::fflush(stdout);
}

std::string napReply(int ms) {
    const std::string page = "<H>napped " + std::to_string(ms) + "</H>";
    return "HTTP/1.0 200 OK\r\nContent-type: text/html\r\nContent-Length: " +
           std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page;
}

// How the clients' exchanges ended.
struct Tally {
    std::atomic<int> files{0};
    std::atomic<int> pluginReplies{0};
    std::atomic<int> pluginAfterStop{0}; // the stopped server's 500, or 405 when the module went
    std::atomic<int> closedUnanswered{0};
    std::atomic<int> refused{0};
    std::atomic<int> wrong{0};
    std::atomic<int> hung{0};
};

class Restart : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        installModules(KORU_LOAD_MODULE_DIR, {"nap"});
        // Every start listens on the same port, so that the clients keep finding it.
        settings.ListenPort = QString::number(testnet::freePort());
        writeFile("index.htm", "<html>restart</html>");
        writeFile("big.bin", QByteArray::fromStdString(Pattern(256 * 1024, 3)));
    }

    // Requests of three kinds in random order until told to stop; each ending is checked.
    void client(unsigned seed, uint16_t port, const std::atomic<bool>& stop, Tally& tally) {
        std::mt19937 random(seed);
        const std::string small = FileReply("text/html", "<html>restart</html>");
        const std::string big = FileReply("application/octet-stream", Pattern(256 * 1024, 3));
        while (!stop) {
            const int kind = static_cast<int>(random() % 4);
            const int nap = static_cast<int>(random() % 40);
            const std::string target = "/nap?nap=" + std::to_string(nap);
            const std::string request = kind == 0   ? "GET /index.htm HTTP/1.0\r\n\r\n"
                                        : kind == 1 ? "GET /big.bin HTTP/1.0\r\n\r\n"
                                                    : "GET " + target + " HTTP/1.0\r\n\r\n";
            const int fd = Connect(port, 20);
            if (fd < 0) {
                ++tally.refused;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            SendAll(fd, request);
            const Reply reply = ReadReply(fd);
            ::close(fd);
            classify(reply,
                     kind == 0   ? small
                     : kind == 1 ? big
                                 : napReply(nap),
                     kind >= 2, target, tally);
        }
    }

    void classify(const Reply& reply, const std::string& expected, bool plugin,
                  const std::string& target, Tally& tally) {
        if (reply.end == End::TimedOut) {
            ++tally.hung;
        } else if (reply.bytes == expected) {
            ++(plugin ? tally.pluginReplies : tally.files);
        } else if (reply.bytes.empty()) {
            // Waiting in the listening socket's queue when it closed.
            ++tally.closedUnanswered;
        } else if (plugin && (reply.bytes == PageReply(500, "Internal Server Error",
                                                       "Cannot create temporary file. CGI fail.") ||
                              reply.bytes == PageReply(405, "Method Not Allowed",
                                                       "Cannot run plugin (" + target + ")"))) {
            ++tally.pluginAfterStop;
        } else {
            ++tally.wrong;
            const std::lock_guard lock(samplesMutex);
            if (wrongSamples.size() < 3)
                wrongSamples.push_back(reply.bytes.substr(0, 200));
        }
    }

    std::mutex samplesMutex;
    std::vector<std::string> wrongSamples;
};

TEST_F(Restart, StopAndStartWhileRequestsAndPluginCallsRun) {
    constexpr int kClients = 6;
    constexpr int kRunMs = 15000;
    const Figures before = FiguresOf(::getpid());
    const uint16_t port = settings.ListenPort.toUShort();
    Tally tally;
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
            client(unsigned(i + 1), port, stop, tally);
            ++finished;
        });

    // This thread is the UI thread: it serves the workers' calls while it starts and stops.
    std::mt19937 random(42);
    int cycles = 0;
    int failedStarts = 0;
    const auto start = Clock::now();
    while (MsSince(start) < kRunMs) {
        try {
            server->StartServer();
        } catch (const std::exception&) {
            ++failedStarts;
        }
        testwait::For(100 + static_cast<int>(random() % 300));
        server->StopServer();
        testwait::For(10 + static_cast<int>(random() % 90));
        ++cycles;
    }
    stop = true;
    EXPECT_TRUE(testwait::Until([&] { return finished == kClients; }, 60000));
    for (std::thread& c : clients)
        c.join();
    EXPECT_TRUE(testwait::Until([] { return platform::TThread::RunningCount() == 0; }));
    // The workers' operating-system threads end after their idle time.
    EXPECT_TRUE(testwait::Until([] { return platform::TThread::PooledThreadCount() == 0; }));
    testwait::For(200);

    EXPECT_EQ(tally.hung, 0) << "connections neither answered nor closed";
    EXPECT_EQ(tally.wrong, 0) << (wrongSamples.empty() ? "" : wrongSamples.front());
    EXPECT_EQ(gReleasedUnderCall, 0) << "a module was shut down or unmapped under a running call";
    EXPECT_EQ(gShutdowns, gLoads);
    EXPECT_EQ(gUnmapped, gLoads) << "every stop releases the module";
    EXPECT_GE(cycles, 20);
    EXPECT_EQ(failedStarts, 0);
    EXPECT_GT(tally.pluginReplies, 0);
    EXPECT_GT(tally.files, 0);
    EXPECT_EQ(PeerCounter, 0);
    const Figures after = FiguresOf(::getpid());
    // The worker threads' reserve of descriptors stays once the first worker has run.
    Figures idle = before;
    idle.descriptors += platform::TThread::kReservedDescriptors;
    EXPECT_TRUE(BackToIdle(after, idle));
    Note(std::to_string(cycles) + " stops and starts in " + std::to_string(kRunMs / 1000) +
         " s under " + std::to_string(kClients) +
         " client threads: " + std::to_string(tally.files) + " files and " +
         std::to_string(tally.pluginReplies) + " plug-in calls (0 to 40 ms each) answered whole, " +
         std::to_string(tally.pluginAfterStop) + " plug-in requests answered as after a stop, " +
         std::to_string(tally.closedUnanswered) + " closed while queued, " +
         std::to_string(tally.refused) + " refused while stopped, " + std::to_string(tally.wrong) +
         " wrong, " + std::to_string(tally.hung) + " hung; module loaded " +
         std::to_string(gLoads) + " times, shut down " + std::to_string(gShutdowns) +
         ", unmapped " + std::to_string(gUnmapped) + ", " + std::to_string(gCalls) +
         " calls, released under a call " + std::to_string(gReleasedUnderCall) +
         "; process before " + Describe(before) + ", after " + Describe(after));
}

// The program ends (SIGTERM, as at log-out) while plug-in calls, downloads and idle connections
// are in progress: it exits normally, and every client gets its whole reply or a closed
// connection, never a hang.
TEST(ProgramEnd, EndsCleanlyWhileCallsAndDownloadsRun) {
    constexpr int kEach = 10;
    constexpr int kNapMs = 1500;
    Sandbox site;
    const std::string big = Pattern(16 * 1024 * 1024, 9);
    site.Write("inner/base/big.bin", big);
    site.Write("inner/base/index.htm", "<html>end</html>");
    ChildServer server({site.Base(), KORU_LOAD_MODULE_DIR, 10});
    ASSERT_TRUE(server.Start()) << server.Failure();
    const std::string bigReply = FileReply("application/octet-stream", big);
    const std::string nap = "GET /nap?nap=" + std::to_string(kNapMs) + " HTTP/1.0\r\n\r\n";
    const Figures idle = server.Idle();

    std::vector<int> fds;
    for (int i = 0; i < 3 * kEach; ++i) {
        // Downloads read slowly enough to be unfinished at the end.
        fds.push_back(Connect(server.Port(), 30, i % 3 == 1 ? 32 * 1024 : 0));
        ASSERT_GE(fds.back(), 0);
        if (i % 3 == 0)
            SendAll(fds.back(), nap);
        else if (i % 3 == 1)
            SendAll(fds.back(), "GET /big.bin HTTP/1.0\r\n\r\n");
    }
    // Every connection has its worker, and the calls have begun.
    const Figures busy = WaitForFigures(
        server.Pid(),
        [&](const Figures& f) { return f.OwnThreads() >= idle.OwnThreads() + 3 * kEach; }, 20000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopping = Clock::now();
    std::thread reader;
    std::vector<Reply> replies;
    reader = std::thread([&] { replies = ReadReplies(fds, 60000); });
    const std::string ended = server.Stop();
    const double stopMs = MsSince(stopping);
    reader.join();
    for (const int fd : fds)
        ::close(fd);

    EXPECT_EQ(ended, "exit 0") << server.Failure();
    int naps = 0, whole = 0, cut = 0;
    for (size_t i = 0; i < replies.size(); ++i) {
        EXPECT_NE(replies[i].end, End::TimedOut) << "connection " << i << " hung";
        if (i % 3 == 0) {
            EXPECT_TRUE(replies[i].bytes.empty() || replies[i].bytes == napReply(kNapMs))
                << replies[i].bytes.substr(0, 200);
            naps += replies[i].bytes == napReply(kNapMs);
        } else if (i % 3 == 1) {
            // Whatever arrived is the start of the right reply.
            EXPECT_TRUE(bigReply.compare(0, replies[i].bytes.size(), replies[i].bytes) == 0);
            (replies[i].bytes == bigReply ? whole : cut) += 1;
        } else {
            EXPECT_EQ(replies[i].bytes, "");
        }
    }
    Note("program ended by SIGTERM with " + std::to_string(kEach) + " plug-in calls of " +
         std::to_string(kNapMs) + " ms, " + std::to_string(kEach) +
         " slow downloads of 16 MiB and " + std::to_string(kEach) + " idle connections (" +
         Describe(busy) + "): exit 0 after " + std::to_string(int(stopMs)) + " ms; " +
         std::to_string(naps) + " calls answered whole, downloads " + std::to_string(whole) +
         " whole and " + std::to_string(cut) + " cut by the end, idle connections closed");
}

} // namespace
