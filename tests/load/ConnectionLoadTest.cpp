// The program under many connections at once, many connections one after the other, slow
// senders and silent ones, each against a program started for the test.
#include "load/LoadSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <numeric>
#include <thread>
#include <unistd.h>

using namespace load;

namespace {

// Figures go to the test output, so that a run documents what it held.
void Note(const std::string& text) {
    std::printf("[ figures  ] %s\n", text.c_str());
    std::fflush(stdout);
}

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f ms", ms);
    return text;
}

// One request with the reply it must get, byte for byte.
struct Exchange {
    std::string request;
    std::string reply;
};

class Connections : public ChildServerTest {
protected:
    void SetUp() override {
        site.Write("inner/base/index.htm",
                   "<html><body>" + std::string(1000, 'k') + "</body></html>");
        site.Write("inner/base/page.txt", Pattern(16 * 1024, 1));
        site.Write("inner/base/blob.bin", Pattern(100 * 1000, 2));
        site.Write("inner/base/empty.htm", "");
        kinds = {
            {"GET /index.htm HTTP/1.0\r\n\r\n",
             FileReply("text/html", site.Read("inner/base/index.htm"))},
            {"GET /page.txt HTTP/1.0\r\n\r\n",
             FileReply("text/plain", site.Read("inner/base/page.txt"))},
            {"GET /blob.bin HTTP/1.0\r\n\r\n",
             FileReply("application/octet-stream", site.Read("inner/base/blob.bin"))},
            {"GET /empty.htm HTTP/1.0\r\n\r\n", FileReply("text/html", "")},
            {"GET /missing.htm HTTP/1.0\r\n\r\n",
             PageReply(404, "Not Found", "<h2>File not really found</h2>")},
            {"DELETE /index.htm HTTP/1.0\r\n\r\n",
             PageReply(501, "Not Implemented", "Request not supported")},
        };
    }

    // `count` requests of every kind in turn, each checked; returns how many were answered wrong.
    int sequential(int count, int first = 0) const {
        int wrong = 0;
        for (int i = first; i < first + count; ++i) {
            const Exchange& kind = kinds[static_cast<size_t>(i) % kinds.size()];
            const Reply reply = load::Exchange(server->Port(), kind.request);
            if (reply.bytes != kind.reply || reply.end != End::Closed) {
                if (++wrong <= 3)
                    ADD_FAILURE() << "request " << i << " " << kind.request.substr(0, 20)
                                  << ": got " << reply.bytes.size() << " bytes, expected "
                                  << kind.reply.size();
            }
        }
        return wrong;
    }

    // One normal request, checked, and the time to its whole reply.
    double timedRequest() const {
        const auto start = Clock::now();
        const Reply reply = load::Exchange(server->Port(), kinds[0].request);
        const double ms = MsSince(start);
        EXPECT_EQ(reply.bytes, kinds[0].reply);
        return ms;
    }

    std::vector<Exchange> kinds;
};

TEST_F(Connections, FiveHundredHeldAtOnceAreEachAnsweredCorrectly) {
    constexpr int kConnections = 500;
    startServer(60);
    const Figures idle = server->Idle();

    const auto start = Clock::now();
    std::vector<int> fds;
    for (int i = 0; i < kConnections; ++i) {
        fds.push_back(Connect(server->Port()));
        ASSERT_GE(fds.back(), 0) << "connection " << i << " was not accepted";
    }
    const double connectedMs = MsSince(start);
    // Each accepted connection has a worker of its own: all of them live at once before any
    // request is sent, so the requests below really are served side by side.
    const Figures held = WaitForFigures(
        server->Pid(),
        [&](const Figures& f) { return f.OwnThreads() >= idle.OwnThreads() + kConnections; },
        60000);
    ASSERT_GE(held.OwnThreads(), idle.OwnThreads() + kConnections) << Describe(held);

    const auto sending = Clock::now();
    for (size_t i = 0; i < fds.size(); ++i)
        ASSERT_TRUE(SendAll(fds[i], kinds[i % kinds.size()].request));
    const std::vector<Reply> replies = ReadReplies(fds, 120000);
    const double answeredMs = MsSince(sending);
    for (const int fd : fds)
        ::close(fd);

    int wrong = 0;
    for (size_t i = 0; i < replies.size(); ++i) {
        if (replies[i].bytes == kinds[i % kinds.size()].reply && replies[i].end == End::Closed)
            continue;
        if (++wrong <= 3)
            ADD_FAILURE() << "connection " << i << ": " << replies[i].bytes.size()
                          << " bytes, ended " << static_cast<int>(replies[i].end);
    }
    EXPECT_EQ(wrong, 0);

    const Figures after = server->SettleTo(idle);
    EXPECT_TRUE(BackToIdle(after, idle));
    Note("500 at once: connected in " + Ms(connectedMs) + ", all answered " + Ms(answeredMs) +
         " after sending; idle " + Describe(idle) + "; held " + Describe(held) + "; after " +
         Describe(after) + "; wrong replies " + std::to_string(wrong));
}

TEST_F(Connections, TenThousandInTurnLeaveThreadsDescriptorsAndMemoryAsIdle) {
    constexpr int kWarmUp = 600;
    constexpr int kRequests = 10000;
    // A leak of 200 bytes per request would exceed this; what the allocator keeps after the
    // warm-up stays well below it.
    constexpr long kMemorySlackKiB = 2 * 1024;
    startServer(40);
    // The first requests fill the allocator's per-thread pools and the program's lazy parts.
    ASSERT_EQ(sequential(kWarmUp), 0);
    const Figures idle = server->Idle();

    const auto start = Clock::now();
    int wrong = sequential(kRequests / 2, kWarmUp);
    const Figures half = server->Idle();
    wrong += sequential(kRequests / 2, kWarmUp + kRequests / 2);
    const double ms = MsSince(start);
    EXPECT_EQ(wrong, 0);

    const Figures after = server->Idle();
    EXPECT_TRUE(BackToIdle(after, idle));
    EXPECT_LE(after.rssKiB, idle.rssKiB + kMemorySlackKiB) << Describe(after);
    EXPECT_LE(after.rssKiB, half.rssKiB + kMemorySlackKiB / 2) << Describe(after);
    Note("10000 in turn: " + Ms(ms) + " (" + std::to_string(int(kRequests * 1000.0 / ms)) +
         " per second), wrong replies " + std::to_string(wrong) + "; idle after " +
         std::to_string(kWarmUp) + " warm-up requests " + Describe(idle) + "; after 5000 " +
         Describe(half) + "; after 10000 " + Describe(after));
}

// Slow clients: each has a worker waiting on it, waking every poll step; none of that may hold
// up a client that sends its request at once.
TEST_F(Connections, TwoHundredSlowSendersDoNotDelayANormalRequest) {
    constexpr int kSlow = 200;
    constexpr double kAllowedDelayMs = 100;
    // Shorter than the time the slow headers take: every byte restarts the idle limit.
    constexpr int kIdleSeconds = 5;
    const std::string slowRequest = "GET / HTTP/1.0\r\n\r\n";
    startServer(kIdleSeconds);
    const Figures idle = server->Idle();
    const double alone = BestOf(10, [&] { return timedRequest(); });

    std::vector<int> slow;
    for (int i = 0; i < kSlow; ++i) {
        slow.push_back(Connect(server->Port()));
        ASSERT_GE(slow.back(), 0);
    }
    std::atomic<size_t> bytesSent{0};
    std::thread dribble([&] {
        for (size_t k = 0; k < slowRequest.size(); ++k) {
            for (const int fd : slow)
                SendAll(fd, slowRequest.substr(k, 1));
            bytesSent = k + 1;
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    const Figures held = WaitForFigures(
        server->Pid(),
        [&](const Figures& f) { return f.OwnThreads() >= idle.OwnThreads() + kSlow; }, 30000);
    EXPECT_GE(held.OwnThreads(), idle.OwnThreads() + kSlow) << Describe(held);
    std::this_thread::sleep_for(std::chrono::seconds(2));

    // Measured only while every slow client is still in the middle of its header.
    std::vector<double> samples;
    while (samples.size() < 10 && bytesSent < slowRequest.size() - 4) {
        samples.push_back(timedRequest());
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    const size_t sentWhenMeasured = bytesSent;
    dribble.join();
    const std::vector<Reply> replies = ReadReplies(slow, 60000);
    for (const int fd : slow)
        ::close(fd);

    ASSERT_GE(samples.size(), 3U);
    EXPECT_LT(sentWhenMeasured, slowRequest.size());
    const double best = *std::min_element(samples.begin(), samples.end());
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_LE(best, alone + kAllowedDelayMs)
        << "alone " << alone << " ms, with slow clients at best " << best << " ms";
    const std::string expected = FileReply("text/html", site.Read("inner/base/index.htm"));
    const auto answered = std::count_if(replies.begin(), replies.end(),
                                        [&](const Reply& r) { return r.bytes == expected; });
    EXPECT_EQ(answered, kSlow) << "slow clients answered correctly after their last byte";
    const Figures after = server->SettleTo(idle);
    EXPECT_TRUE(BackToIdle(after, idle));
    Note("200 slow senders (1 byte/s, " + std::to_string(slowRequest.size()) +
         "-byte header, idle limit " + std::to_string(kIdleSeconds) + " s): normal request alone " +
         Ms(alone) + " best of 10; while they were held (" + Describe(held) + ") best " + Ms(best) +
         ", median " + Ms(sorted[sorted.size() / 2]) + ", worst " + Ms(sorted.back()) + " over " +
         std::to_string(samples.size()) + " requests; slow clients answered " +
         std::to_string(answered) + "/200");
}

TEST_F(Connections, IdleConnectionsCloseAtTheIdleLimit) {
    constexpr int kIdleSeconds = 2;
    constexpr int kEach = 50;
    startServer(kIdleSeconds);
    const Figures idle = server->Idle();

    // Half send nothing at all, half stop in the middle of the request line.
    std::vector<int> fds;
    std::vector<Clock::time_point> lastSent;
    for (int i = 0; i < 2 * kEach; ++i) {
        fds.push_back(Connect(server->Port()));
        ASSERT_GE(fds.back(), 0);
        if (i % 2 == 1)
            SendAll(fds.back(), "GET /index.htm HT");
        lastSent.push_back(Clock::now());
    }
    const auto reading = Clock::now();
    const std::vector<Reply> replies = ReadReplies(fds, 30000);
    for (const int fd : fds)
        ::close(fd);

    // How long each connection lasted after its last byte (or its start).
    std::vector<double> closedAfter;
    for (size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i].bytes, "");
        EXPECT_EQ(replies[i].end, End::Closed);
        const double quiet =
            std::chrono::duration<double, std::milli>(reading - lastSent[i]).count();
        closedAfter.push_back(quiet + replies[i].endedMs);
    }
    std::sort(closedAfter.begin(), closedAfter.end());
    const double limit = kIdleSeconds * 1000.0;
    // The limit counts from the worker's start or the last byte, both after the clock here
    // started; the worker looks every 100 ms.
    EXPECT_GE(closedAfter.front(), limit - 20);
    EXPECT_LE(closedAfter[closedAfter.size() / 2], limit + 500);
    EXPECT_LE(closedAfter.back(), limit + 3000);
    const Figures after = server->SettleTo(idle);
    EXPECT_TRUE(BackToIdle(after, idle));
    Note("100 idle connections (50 silent, 50 with half a request line), idle limit 2 s: closed "
         "after " +
         Ms(closedAfter.front()) + " to " + Ms(closedAfter.back()) + ", median " +
         Ms(closedAfter[closedAfter.size() / 2]) + ", none answered; after " + Describe(after));
}

} // namespace
