// What one hostile visitor can throw at the program: more connections than it has descriptors,
// headers that never end, large uploads at once, the request log fetched while it is written,
// clients that never read, and clients that half-close after their request. Each against a
// program started for the test; the figures go to the test output.
#include "load/LoadSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace load;

namespace {

// The highest resident set of a process, sampled every few milliseconds on a thread of its own
// until Stop().
class ResidentPeak {
public:
    ResidentPeak(pid_t pid, long startKiB)
        : highest_(startKiB), watcher_([this, pid] {
              while (watching_) {
                  highest_ = std::max(highest_.load(), FiguresOf(pid).rssKiB);
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~ResidentPeak() { Stop(); }
    ResidentPeak(const ResidentPeak&) = delete;
    ResidentPeak& operator=(const ResidentPeak&) = delete;
    long Stop() {
        watching_ = false;
        if (watcher_.joinable())
            watcher_.join();
        return highest_;
    }

private:
    std::atomic<bool> watching_ = true;
    std::atomic<long> highest_;
    std::thread watcher_;
};

void Note(const std::string& text) {
    std::printf("[ figures  ] %s\n", text.c_str());
    std::fflush(stdout);
}

class Hostile : public ChildServerTest {
protected:
    void SetUp() override {
        site.Write("inner/base/index.htm", "<p>home</p>");
        index = FileReply("text/html", "<p>home</p>");
    }

    void startWith(ChildServer::Options options) {
        server = std::make_unique<ChildServer>(std::move(options));
        ASSERT_TRUE(server->Start()) << server->Failure();
    }

    ChildServer::Options defaults(int idleSeconds = 40) const {
        return {site.Base(), site.Root() + "/no-plugins", idleSeconds};
    }

    // Asks for the index until it comes back whole, the program is gone, or 15 s have passed;
    // the milliseconds that took.
    double askUntilAnswered(Reply& reply) const {
        const auto start = Clock::now();
        do {
            reply = Exchange(server->Port(), "GET /index.htm HTTP/1.0\r\n\r\n");
        } while (reply.bytes != index && server->Alive() && MsSince(start) < 15000);
        return MsSince(start);
    }

    std::string index;
};

void closeAll(std::vector<int>& fds) {
    for (const int fd : fds)
        if (fd >= 0)
            ::close(fd);
    fds.clear();
}

} // namespace

// Two thousand idle connections against a limit of 1,024 descriptors: the program accepts what
// it can hold, rests (no busy loop) while the rest wait in the backlog, and answers again as soon
// as they are gone.
TEST_F(Hostile, MoreConnectionsThanDescriptors) {
    ChildServer::Options options = defaults(30);
    options.descriptorLimit = 1024;
    startWith(options);
    std::vector<int> held;
    for (int i = 0; i < 2000; ++i)
        held.push_back(Connect(server->Port(), 5));
    const long opened = std::count_if(held.begin(), held.end(), [](int fd) { return fd >= 0; });
    // Let the program take what it can, then watch it while it can take no more.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpuBefore = CpuMs(server->Pid());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double cpuWhileExhausted = CpuMs(server->Pid()) - cpuBefore;
    const Figures exhausted = server->Now();
    ASSERT_TRUE(server->Alive()) << server->Failure();

    closeAll(held);
    Reply reply;
    const double answeredAfterMs = askUntilAnswered(reply);
    Note("2000 connections, limit 1024: " + std::to_string(opened) + " connected, " +
         Describe(exhausted) + " while exhausted; CPU " + std::to_string(cpuWhileExhausted) +
         " ms in 3 s; answered again " + std::to_string(answeredAfterMs) + " ms after release");
    EXPECT_EQ(reply.bytes, index);
    EXPECT_LT(answeredAfterMs, 10000);
    // Each held connection's worker looks at its socket ten times a second; a busy loop would
    // take a whole core (3,000 ms).
    EXPECT_LT(cpuWhileExhausted, 1500) << "a busy loop while out of descriptors";
    const std::string output = server->Failure();
    size_t reports = 0;
    for (size_t at = output.find("Accepting paused"); at != std::string::npos;
         at = output.find("Accepting paused", at + 1))
        ++reports;
    EXPECT_LE(reports, 1u) << output;
}

// More connections than an address-space limit (`ulimit -v`) holds threads for, each connection
// costing a thread and its stack: the program stops starting threads short of the limit, stays
// up, and answers again once the connections are gone.
TEST_F(Hostile, MoreConnectionsThanAddressSpace) {
    startWith(defaults(30));
    const pid_t pid = server->Pid();
    const long idleKiB = VirtualKiB(pid);
    ASSERT_GT(idleKiB, 0);
    // Stacks (8 MiB each) for about 40 threads beyond what the program uses idle and the 32 MiB it
    // keeps in reserve; 800 would need twenty times as much.
    constexpr long kRoomKiB = 352 * 1024;
    const auto bytes = static_cast<rlim_t>(idleKiB + kRoomKiB) * 1024;
    const rlimit limit{bytes, bytes};
    ASSERT_EQ(::prlimit(pid, RLIMIT_AS, &limit, nullptr), 0);
    std::vector<int> held;
    for (int i = 0; i < 800; ++i)
        held.push_back(Connect(server->Port(), 5));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const Figures full = server->Now();
    const long fullKiB = VirtualKiB(pid);
    ASSERT_TRUE(server->Alive()) << server->Failure();

    closeAll(held);
    Reply reply;
    const double answeredAfterMs = askUntilAnswered(reply);
    Note("800 connections, address space limited to " + std::to_string(idleKiB + kRoomKiB) +
         " KiB (" + std::to_string(idleKiB) + " idle): " + Describe(full) + ", " +
         std::to_string(fullKiB) + " KiB of address space while full; answered again " +
         std::to_string(answeredAfterMs) + " ms after release");
    EXPECT_EQ(reply.bytes, index);
    EXPECT_LT(answeredAfterMs, 10000);
}

// Eight clients send headers without an end as fast as they can while four upload 48 MiB each:
// the program's memory grows by far less than what they send.
TEST_F(Hostile, FloodsAndLargeUploadsKeepMemoryBounded) {
    startWith(defaults());
    const long idle = server->Idle().rssKiB;
    ResidentPeak peak(server->Pid(), idle);
    const uint16_t port = server->Port();
    constexpr size_t kUpload = 48u * 1024 * 1024;
    std::vector<std::future<std::string>> clients;
    for (int i = 0; i < 8; ++i)
        clients.push_back(std::async(std::launch::async, [port] {
            const int fd = Connect(port, 30);
            const std::string flood(1024 * 1024, 'h');
            SendAll(fd, "GET /");
            for (int mb = 0; mb < 16 && SendAll(fd, flood); ++mb) {
            }
            const Reply reply = ReadReply(fd);
            ::close(fd);
            return reply.bytes;
        }));
    for (int i = 0; i < 4; ++i)
        clients.push_back(std::async(std::launch::async, [port, i] {
            const int fd = Connect(port, 60);
            SendAll(fd, "PUT /upload" + std::to_string(i) + ".bin HTTP/1.0\r\nContent-Length: " +
                            std::to_string(kUpload) + "\r\n\r\n");
            const std::string block = Pattern(1024 * 1024, static_cast<unsigned>(i));
            for (size_t sent = 0; sent < kUpload && SendAll(fd, block); sent += block.size()) {
            }
            const Reply reply = ReadReply(fd);
            ::close(fd);
            return reply.bytes;
        }));
    std::vector<std::string> replies;
    for (auto& client : clients)
        replies.push_back(client.get());
    const long grownKiB = peak.Stop() - idle;
    Note("8 header floods of 16 MiB and 4 uploads of 48 MiB: peak resident set grew by " +
         std::to_string(grownKiB / 1024) + " MiB (idle " + std::to_string(idle / 1024) + " MiB)");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(replies[i], PageReply(413, "Request Entity Too Large", "Request too large"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(replies[8 + i], PageReply(200, "OK", "File saved"));
        const std::string stored = site.Read("inner/base/upload" + std::to_string(i) + ".bin");
        EXPECT_EQ(stored.size(), kUpload);
        EXPECT_EQ(stored.substr(0, 1024 * 1024), Pattern(1024 * 1024, static_cast<unsigned>(i)));
    }
    EXPECT_LT(grownKiB, 40 * 1024);
}

// A POST's body is held until the module has it; it was copied about six times on its way there,
// so that one of 256 MiB raised the peak resident set by 1.6 GB. Bodies held in memory now stop
// at 16 MiB and are copied once.
TEST_F(Hostile, EightLargePostsAtOnceKeepMemoryBounded) {
    ChildServer::Options options = defaults();
    options.pluginsFolder = KORU_PLUGIN_DIR;
    startWith(options);
    const long idle = server->Idle().rssKiB;
    ResidentPeak peak(server->Pid(), idle);
    const uint16_t port = server->Port();
    constexpr size_t kBody = 16u * 1024 * 1024;
    const auto post = [port](size_t length) {
        const int fd = Connect(port, 60);
        SendAll(fd, "POST /echo HTTP/1.0\r\nContent-Length: " + std::to_string(length) +
                        "\r\n\r\nname=big&data=");
        const std::string block(1024 * 1024, 'd');
        for (size_t sent = 14; sent < length;) {
            const size_t piece = std::min(block.size(), length - sent);
            if (!SendAll(fd, block.substr(0, piece)))
                break;
            sent += piece;
        }
        const Reply reply = ReadReply(fd);
        ::close(fd);
        return reply.bytes;
    };
    std::vector<std::future<std::string>> clients;
    for (int i = 0; i < 8; ++i)
        clients.push_back(std::async(std::launch::async, [&post] { return post(kBody); }));
    std::vector<std::string> replies;
    for (auto& client : clients)
        replies.push_back(client.get());
    const long grownKiB = peak.Stop() - idle;
    Note("8 POSTs of 16 MiB at once: peak resident set grew by " + std::to_string(grownKiB / 1024) +
         " MiB (idle " + std::to_string(idle / 1024) + " MiB)");
    for (const std::string& reply : replies) {
        EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\r\n")) << reply.substr(0, 200);
        EXPECT_NE(reply.find("Hello, big!"), std::string::npos);
    }
    EXPECT_LT(grownKiB, 200 * 1024);
    EXPECT_EQ(post(kBody + 1), PageReply(413, "Request Entity Too Large", "Request too large"));
}

// The log inside the base folder, fetched by twenty clients while twenty others are logged: every
// fetch gets the log as it stood, and nothing freezes.
TEST_F(Hostile, LogFetchedWhileItIsWritten) {
    ChildServer::Options options = defaults();
    options.logInBase = true;
    startWith(options);
    const uint16_t port = server->Port();
    // The log is written a moment after its request: it exists once a first line is there.
    EXPECT_EQ(Exchange(port, "GET /index.htm HTTP/1.0\r\n\r\n").bytes, index);
    const auto first = Clock::now();
    while (site.Read("inner/base/KORU.Log").empty() && MsSince(first) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::future<Reply>> fetches;
    std::vector<std::future<Reply>> logged;
    for (int i = 0; i < 20; ++i) {
        fetches.push_back(std::async(std::launch::async, [port] {
            return Exchange(port, "GET /KORU.Log HTTP/1.0\r\n\r\n");
        }));
        logged.push_back(std::async(std::launch::async, [port] {
            return Exchange(port, "GET /index.htm HTTP/1.0\r\n\r\n");
        }));
    }
    const auto start = Clock::now();
    int whole = 0;
    for (auto& fetch : fetches) {
        const Reply reply = fetch.get();
        const size_t body = reply.bytes.find("\r\n\r\n");
        ASSERT_EQ(reply.bytes.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << reply.bytes;
        const std::string length =
            "Content-Length: " + std::to_string(reply.bytes.size() - body - 4) + "\r\n";
        whole += reply.bytes.find(length) != std::string::npos;
    }
    for (auto& request : logged)
        EXPECT_EQ(request.get().bytes, index);
    Note("log fetched by 20 while 20 were logged: all answered in " +
         std::to_string(MsSince(start)) + " ms");
    EXPECT_EQ(whole, 20);
    // Every request line is there, each line whole.
    const auto count = [this](const std::string& line) {
        const std::string log = site.Read("inner/base/KORU.Log");
        size_t n = 0;
        for (size_t at = log.find("\t" + line + "\r\n"); at != std::string::npos;
             at = log.find("\t" + line + "\r\n", at + 1))
            ++n;
        return n;
    };
    const auto waited = Clock::now();
    while ((count("GET /KORU.Log HTTP/1.0") < 20 || count("GET /index.htm HTTP/1.0") < 21) &&
           MsSince(waited) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(count("GET /KORU.Log HTTP/1.0"), 20u) << site.Read("inner/base/KORU.Log");
    EXPECT_GE(count("GET /index.htm HTTP/1.0"), 21u);
}

// Clients that never read a large file hold nothing beyond the idle limit and a second: their
// connections and files are closed. (The operating-system threads under the workers stay a
// little longer, ready for the next ones.)
TEST_F(Hostile, ClientsThatNeverReadAreReleased) {
    site.Write("inner/base/big.bin", std::string(50u * 1024 * 1024, 'b'));
    startWith(defaults(2));
    const Figures idle = server->Idle();
    std::vector<int> stalled;
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) {
        stalled.push_back(Connect(server->Port(), 30, 64 * 1024));
        SendAll(stalled.back(), "GET /big.bin HTTP/1.0\r\n\r\n");
    }
    const Figures serving = WaitForFigures(
        server->Pid(),
        [&](const Figures& f) { return f.FilesAndSockets() >= idle.FilesAndSockets() + 10; }, 5000);
    const Figures after = WaitForFigures(
        server->Pid(),
        [&](const Figures& f) { return f.FilesAndSockets() <= idle.FilesAndSockets(); }, 20000);
    const double releasedMs = MsSince(start);
    Note("5 clients that never read a 50 MiB file, idle limit 2 s: " + Describe(serving) +
         " while serving, connections and files released after " + std::to_string(releasedMs) +
         " ms");
    EXPECT_LE(after.FilesAndSockets(), idle.FilesAndSockets()) << Describe(after);
    EXPECT_LT(releasedMs, 2000 + 1000) << "the idle limit and a second";
    closeAll(stalled);
}

// Clients that say "that is all" (shut down their sending side) after the request get their
// answer, and a PUT sent that way is stored.
TEST_F(Hostile, HalfClosingClientsAreAnswered) {
    startWith(defaults());
    const uint16_t port = server->Port();
    std::vector<std::future<Reply>> replies;
    for (int i = 0; i < 20; ++i)
        replies.push_back(std::async(std::launch::async, [port, i] {
            const int fd = Connect(port, 20);
            if (i % 2 == 0)
                SendAll(fd, "GET /index.htm HTTP/1.0\r\n\r\n");
            else
                SendAll(fd, "PUT /half" + std::to_string(i) +
                                ".txt HTTP/1.0\r\nContent-Length: 4\r\n\r\nhalf");
            ::shutdown(fd, SHUT_WR);
            Reply reply = ReadReply(fd);
            ::close(fd);
            return reply;
        }));
    int answered = 0;
    for (int i = 0; i < 20; ++i) {
        const Reply reply = replies[i].get();
        const bool right =
            i % 2 == 0 ? reply.bytes == index
                       : reply.bytes == PageReply(200, "OK", "File saved") &&
                             site.Read("inner/base/half" + std::to_string(i) + ".txt") == "half";
        answered += right;
    }
    Note("20 half-closing clients: " + std::to_string(answered) + " answered");
    EXPECT_EQ(answered, 20);
}
