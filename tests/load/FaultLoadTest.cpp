// Clients that misbehave (resets in the middle of a download, clients that stop reading and
// vanish, clients that go before their reply) and uploads that race or aim outside the base
// folder, each against a program started for the test.
#include "load/LoadSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <latch>
#include <memory>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace load;

namespace {

void Note(const std::string& text) {
    std::printf("[ figures  ] %s\n", text.c_str());
    std::fflush(stdout);
}

const std::string kBigRequest = "GET /big.bin HTTP/1.0\r\n\r\n";

// Reads until at least `bytes` have come (or the connection ended); returns how many came.
size_t readAtLeast(int fd, size_t bytes) {
    std::vector<char> buffer(65536);
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// The reply to kBigRequest is this long at least.
constexpr size_t kBigSize = 8 * 1024 * 1024;

enum class Fault {
    ResetMidDownload,     // reads part of a large file, then resets the connection
    StopReadingAndVanish, // reads part, stops reading past the idle limit, then goes
    GoBeforeTheReply,     // sends the request and closes at once
    SilentThenReset,      // never sends a byte, resets before the idle limit
    HalfRequestThenReset, // stops in the middle of the header, then resets
};
constexpr int kFaultKinds = 5;

// `unfinished` counts the clients that stopped reading and went while their reply was still
// being delivered: what they read plus what waits in their socket is less than the file.
void misbehave(Fault fault, uint16_t port, int stallMs, std::atomic<int>& unfinished) {
    // A small receive buffer, so that the kernel cannot take the whole file off the worker.
    const int fd = Connect(port, 30, fault == Fault::StopReadingAndVanish ? 64 * 1024 : 0);
    if (fd < 0)
        return;
    switch (fault) {
    case Fault::ResetMidDownload:
        SendAll(fd, kBigRequest);
        readAtLeast(fd, 256 * 1024);
        CloseWithReset(fd);
        return;
    case Fault::StopReadingAndVanish: {
        SendAll(fd, kBigRequest);
        const size_t read = readAtLeast(fd, 256 * 1024);
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
        int waiting = 0;
        ::ioctl(fd, FIONREAD, &waiting);
        unfinished += read + static_cast<size_t>(waiting) < kBigSize;
        ::close(fd); // with unread bytes waiting, the kernel resets the connection
        return;
    }
    case Fault::GoBeforeTheReply:
        SendAll(fd, kBigRequest);
        ::close(fd);
        return;
    case Fault::SilentThenReset:
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs / 3));
        CloseWithReset(fd);
        return;
    case Fault::HalfRequestThenReset:
        SendAll(fd, "GET /big.bin HTTP/1.0\r\nHost: lo");
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs / 3));
        CloseWithReset(fd);
        return;
    }
}

std::string sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(text.substr(from, end - from));
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (const std::string& line : lines)
        sorted += line + "\n";
    return sorted;
}

// The whole sandbox but the base folder's content.
std::string outsideOfBase(const Sandbox& site) {
    const std::string all = site.Listing();
    std::string rest;
    size_t from = 0;
    for (size_t end; (end = all.find('\n', from)) != std::string::npos; from = end + 1) {
        const std::string line = all.substr(from, end - from);
        if (!line.starts_with("inner/base/") || line == "inner/base/")
            rest += line + "\n";
    }
    return rest;
}

class Faults : public ChildServerTest {};

TEST_F(Faults, ResetAndVanishingClientsLeaveNoThreadDescriptorOrMemory) {
    constexpr int kIdleSeconds = 2;
    constexpr int kStallMs = 3000; // longer than the idle limit: the worker's send waits time out
    constexpr int kPerKind = 10;
    constexpr int kRounds = 5;
    constexpr long kMemorySlackKiB = 2 * 1024;
    const std::string big = Pattern(kBigSize, 7);
    site.Write("inner/base/big.bin", big);
    site.Write("inner/base/index.htm", "<html>still here</html>");
    const std::string bigReply = FileReply("application/octet-stream", big);
    const std::string smallReply = FileReply("text/html", "<html>still here</html>");
    startServer(kIdleSeconds);
    const Figures start = server->Idle();

    int wrong = 0;
    std::atomic<int> unfinished{0};
    std::vector<Figures> rounds;
    // Round 0 warms the allocator's per-thread pools up; the memory check compares with it.
    for (int round = 0; round <= kRounds; ++round) {
        std::vector<std::thread> clients;
        for (int i = 0; i < kPerKind * kFaultKinds; ++i)
            clients.emplace_back(misbehave, Fault(i % kFaultKinds), server->Port(), kStallMs,
                                 std::ref(unfinished));
        // Well-behaved clients meanwhile get whole replies, a large one included.
        for (int i = 0; i < 20; ++i)
            wrong +=
                Exchange(server->Port(), "GET /index.htm HTTP/1.0\r\n\r\n").bytes != smallReply;
        wrong += Exchange(server->Port(), kBigRequest).bytes != bigReply;
        for (std::thread& client : clients)
            client.join();
        ASSERT_TRUE(server->Alive()) << server->Failure();
        rounds.push_back(server->SettleTo(start, 30000));
        EXPECT_TRUE(BackToIdle(rounds.back(), start)) << "round " << round;
    }
    EXPECT_EQ(wrong, 0);
    // The stall really happened: each of those workers was in the middle of its delivery.
    EXPECT_EQ(unfinished, kPerKind * (kRounds + 1));
    const Figures after = server->Idle();
    EXPECT_LE(after.rssKiB, rounds.front().rssKiB + kMemorySlackKiB) << Describe(after);

    std::string perRound;
    for (const Figures& f : rounds)
        perRound += " " + std::to_string(f.rssKiB);
    Note(std::to_string(kRounds + 1) + " rounds of " + std::to_string(kPerKind * kFaultKinds) +
         " misbehaving clients (10 each: reset mid-download of 8 MiB, stop reading for 3 s and "
         "vanish, close before the reply, silent then reset, half a header then reset; idle limit "
         "2 s) beside 21 normal requests a round; clients that vanished with their download "
         "unfinished: " +
         std::to_string(unfinished) + "; wrong normal replies " + std::to_string(wrong) +
         "; idle at start " + Describe(start) + "; resident KiB after each round" + perRound +
         "; at the end " + Describe(after));
}

// Two folders beside the base and one above it are in reach of ".." if anything escapes.
TEST_F(Faults, RacingUploadsMakeOneWholeFileAndNothingLandsOutsideTheBase) {
    constexpr int kNames = 30;
    constexpr int kRacers = 6;
    constexpr int kNamesAtOnce = 5;
    site.Write("inner/base/index.htm", "<html>base</html>");
    site.Write("inner/outside/secret.txt", "inner secret");
    site.Write("outside/secret.txt", "outer secret");
    // A dangling link inside the base that points outside: an upload must not create its target.
    std::filesystem::create_symlink("../../outside/through-link.txt", site.Base() + "/link.txt");
    startServer(10);
    const std::string outsideBefore = outsideOfBase(site);
    const std::string baseBefore = site.Listing("inner/base");

    const auto upload = [](const std::string& target, const std::string& body) {
        return "PUT " + target + " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    };
    const std::string saved = PageReply(200, "OK", "File saved");
    const std::string exists = PageReply(406, "Not Acceptable", "File already exists");

    const std::string notFound = PageReply(404, "Not Found", "<h2>File not really found</h2>");
    const std::string busy = PageReply(404, "Not Found", "Unable to open this file for read");
    std::atomic<int> reads{0};
    std::atomic<int> partialReads{0};
    std::vector<std::vector<Reply>> replies(kNames, std::vector<Reply>(kRacers));
    const auto body = [](int name, int racer) {
        return Pattern(64 * 1024 + 4096 * static_cast<size_t>(racer), unsigned(name * 100 + racer));
    };
    for (int first = 0; first < kNames; first += kNamesAtOnce) {
        // All racers of a wave are connected before any of them sends, then all send at once.
        std::latch ready(kNamesAtOnce * kRacers);
        std::vector<std::thread> racers;
        for (int name = first; name < first + kNamesAtOnce; ++name) {
            for (int racer = 0; racer < kRacers; ++racer) {
                racers.emplace_back([&, name, racer] {
                    const int fd = Connect(server->Port());
                    const std::string request =
                        upload("/race-" + std::to_string(name) + ".dat", body(name, racer));
                    ready.arrive_and_wait();
                    if (fd < 0)
                        return;
                    SendAll(fd, request);
                    replies[name][racer] = ReadReply(fd);
                    ::close(fd);
                });
            }
        }
        // Readers meanwhile see each file absent, busy or whole, never a part of it.
        std::atomic<bool> waveOver{false};
        std::vector<std::thread> readers;
        for (int name = first; name < first + kNamesAtOnce; ++name)
            readers.emplace_back([&, name] {
                const std::string request =
                    "GET /race-" + std::to_string(name) + ".dat HTTP/1.0\r\n\r\n";
                do {
                    const std::string reply = Exchange(server->Port(), request).bytes;
                    ++reads;
                    bool fine = reply == notFound || reply == busy;
                    for (int racer = 0; racer < kRacers && !fine; ++racer)
                        fine = reply == FileReply("binary/data", body(name, racer));
                    if (!fine && ++partialReads <= 3)
                        ADD_FAILURE()
                            << "a read of race-" << name << ".dat got " << reply.substr(0, 120);
                } while (!waveOver);
            });
        for (std::thread& racer : racers)
            racer.join();
        waveOver = true;
        for (std::thread& reader : readers)
            reader.join();
    }

    int wholeFiles = 0;
    for (int name = 0; name < kNames; ++name) {
        int winner = -1;
        int losers = 0;
        for (int racer = 0; racer < kRacers; ++racer) {
            const std::string& bytes = replies[name][racer].bytes;
            if (bytes == saved) {
                EXPECT_EQ(winner, -1) << "name " << name << ": two uploads saved";
                winner = racer;
            } else {
                EXPECT_EQ(bytes, exists) << "name " << name << ", racer " << racer;
                losers += bytes == exists;
            }
        }
        ASSERT_GE(winner, 0) << "name " << name << ": no upload saved";
        EXPECT_EQ(losers, kRacers - 1);
        const std::string stored = site.Read("inner/base/race-" + std::to_string(name) + ".dat");
        EXPECT_TRUE(stored == body(name, winner))
            << "name " << name << ": stored " << stored.size() << " bytes, the winner sent "
            << body(name, winner).size();
        wholeFiles += stored == body(name, winner);
    }

    // Ways out of the base folder, each refused; the folders they aim at exist.
    const std::vector<std::string> escapes = {"/../outside/evil.txt",
                                              "/../../outside/evil.txt",
                                              "/../../evil.txt",
                                              "/sub/../../outside/x.txt",
                                              "/..\\outside\\evil.txt",
                                              "\\..\\..\\evil.txt",
                                              "/./../outside/evil.txt",
                                              "..",
                                              "/..",
                                              "/../../outside/secret.txt"};
    for (const std::string& target : escapes)
        EXPECT_EQ(Exchange(server->Port(), upload(target, "escaped")).bytes,
                  PageReply(406, "Not Acceptable", "Cannot create such a file: " + target))
            << target;
    EXPECT_EQ(Exchange(server->Port(), upload("/link.txt", "through")).bytes,
              PageReply(406, "Not Acceptable", "Cannot create such a file: /link.txt"));
    for (const char* target : {"/../outside/secret.txt", "/../../outside/secret.txt",
                               "/..\\..\\outside\\secret.txt", "/sub/../../outside/secret.txt"})
        EXPECT_EQ(
            Exchange(server->Port(), "GET " + std::string(target) + " HTTP/1.0\r\n\r\n").bytes,
            PageReply(404, "Not Found", "<h2>File not really found</h2>"))
            << target;

    EXPECT_EQ(partialReads, 0);
    EXPECT_EQ(outsideOfBase(site), outsideBefore);
    std::string baseAfter = baseBefore;
    for (int name = 0; name < kNames; ++name)
        for (int racer = 0; racer < kRacers; ++racer)
            if (replies[name][racer].bytes == saved)
                baseAfter += "race-" + std::to_string(name) + ".dat " +
                             std::to_string(body(name, racer).size()) + "\n";
    // Nothing else in the base either: no partial or temporary file of a losing upload.
    EXPECT_EQ(site.Listing("inner/base"), sortedLines(baseAfter));
    Note("uploads racing: " + std::to_string(kNames) + " names, " + std::to_string(kRacers) +
         " uploads of 64 to 84 KiB each, " + std::to_string(kNamesAtOnce * kRacers) +
         " connections sending at once: one upload saved per name, the others refused, " +
         std::to_string(wholeFiles) + " files whole; " + std::to_string(reads) +
         " reads racing the uploads, " + std::to_string(partialReads) + " saw a partial file; " +
         std::to_string(escapes.size() + 1) +
         " uploads and 4 reads aimed outside the base refused; nothing changed outside the base");
}

} // namespace
