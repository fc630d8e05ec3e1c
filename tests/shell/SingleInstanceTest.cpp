#include "shell/SingleInstance.h"

#include <gtest/gtest.h>

#include "support/LocalPeers.h"
#include "support/WaitUntil.h"

#include <QTemporaryDir>

#include <chrono>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using Outcome = SingleInstance::Outcome;
using namespace std::chrono_literals;

namespace {

// Giving up on what sits at the path may take this long, and no longer.
constexpr auto kGiveUpLimit = 2s;

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) ? st.st_ino : 0;
}

class OneProgram : public ::testing::Test {
protected:
    std::string folder() const { return dir.path().toStdString(); }
    std::string path() const { return folder() + "/koru.sock"; }

    // A later start runs on a thread of its own while this one's event loop answers it.
    Outcome startElsewhere(SingleInstance& later) {
        auto outcome = std::async(std::launch::async, [&later] { return later.Start(); });
        EXPECT_TRUE(testwait::Until(
            [&] { return outcome.wait_for(0s) == std::future_status::ready; }, 10000));
        return outcome.get();
    }
    // Starts with whatever is at the path; it must have been given up in time.
    Outcome startTimed(SingleInstance& instance) {
        const auto begun = std::chrono::steady_clock::now();
        const Outcome outcome = instance.Start();
        EXPECT_LT(std::chrono::steady_clock::now() - begun, kGiveUpLimit);
        return outcome;
    }
    // Whether `listening` is now the one a later start finds.
    void expectFoundBy(SingleInstance& listening) {
        int shown = 0;
        listening.Serve([&shown] { ++shown; });
        SingleInstance later(folder());
        EXPECT_EQ(startElsewhere(later), Outcome::ShownByAnother);
        EXPECT_EQ(shown, 1);
        EXPECT_FALSE(later.Listening());
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(OneProgram, SecondStartShowsTheFirstAndTheFirstRemovesItsFileAtTheEnd) {
    SingleInstance first(folder());
    ASSERT_EQ(first.Start(), Outcome::Listening);
    EXPECT_EQ(first.SocketPath(), path());
    expectFoundBy(first);
    expectFoundBy(first);
    first.Close();
    EXPECT_EQ(inodeOf(path()), 0u);
    SingleInstance next(folder());
    EXPECT_EQ(next.Start(), Outcome::Listening) << "the next start finds nothing left behind";
}

TEST_F(OneProgram, WhatALeftoverAtThePathCannotStop) {
    const struct {
        const char* what;
        std::function<bool()> leave;
    } cases[] = {
        {"a socket a crashed program left", [this] { return localpeers::makeStaleSocket(path()); }},
        {"a file that is no socket",
         [this] {
             FILE* file = std::fopen(path().c_str(), "w");
             return file && std::fclose(file) == 0;
         }},
        {"a stale socket of another user",
         [this] {
             // Only the administrator can give a file away; otherwise the socket stays ours.
             return localpeers::makeStaleSocket(path()) &&
                    (::getuid() != 0 || ::chown(path().c_str(), 65534, 65534) == 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.leave());
        SingleInstance start(folder());
        ASSERT_EQ(startTimed(start), Outcome::Listening);
        expectFoundBy(start);
        start.Close();
        ::unlink(path().c_str());
    }
}

TEST_F(OneProgram, ListenersThatDoNotAnswerAsWeDoAreGivenUpAndTakenOver) {
    for (const std::string answer : {"", "who are you?\n"}) {
        SCOPED_TRACE("answering '" + answer + "'");
        const auto hung = std::make_unique<localpeers::Listener>(path(), answer);
        ASSERT_TRUE(hung->Ok());
        SingleInstance start(folder());
        ASSERT_EQ(startTimed(start), Outcome::Listening);
        EXPECT_EQ(hung->Accepted(), 1) << "it was asked";
        expectFoundBy(start);
        start.Close();
    }
}

TEST_F(OneProgram, OlderProgramEndingLeavesTheFileOfTheOneThatTookOver) {
    platform::LocalListener older; // hung: listens, never answers
    ASSERT_TRUE(older.Listen(path(), false));
    SingleInstance newer(folder());
    ASSERT_EQ(startTimed(newer), Outcome::Listening);
    const ino_t newers = inodeOf(path());
    older.Close();
    EXPECT_EQ(inodeOf(path()), newers);
    expectFoundBy(newer);
}

TEST_F(OneProgram, TwoStartsAtOnceMakeOneListenerAndOneShownWindow) {
    SingleInstance a(folder()), b(folder());
    auto startA = std::async(std::launch::async, [&a] { return a.Start(); });
    auto startB = std::async(std::launch::async, [&b] { return b.Start(); });
    int shown = 0;
    std::optional<Outcome> outA, outB;
    // Whichever listens first must answer the other from this thread's loop.
    const auto collect = [&shown](std::future<Outcome>& start, std::optional<Outcome>& out,
                                  SingleInstance& instance) {
        if (out || start.wait_for(0s) != std::future_status::ready)
            return;
        out = start.get();
        instance.Serve([&shown] { ++shown; });
    };
    EXPECT_TRUE(testwait::Until(
        [&] {
            collect(startA, outA, a);
            collect(startB, outB, b);
            return outA && outB;
        },
        10000));
    ASSERT_TRUE(outA && outB);
    EXPECT_EQ((*outA == Outcome::Listening) + (*outB == Outcome::Listening), 1);
    EXPECT_EQ((*outA == Outcome::ShownByAnother) + (*outB == Outcome::ShownByAnother), 1);
    EXPECT_EQ(shown, 1);
}

TEST_F(OneProgram, WithoutAPlaceForTheSocketTheProgramRunsAlone) {
    SingleInstance nowhere("");
    EXPECT_EQ(nowhere.Start(), Outcome::Alone);
    SingleInstance tooLong("/" + std::string(120, 'x'));
    EXPECT_EQ(tooLong.Start(), Outcome::Alone);
    // A folder where the socket should be cannot be replaced.
    ASSERT_EQ(::mkdir(path().c_str(), 0700), 0);
    SingleInstance blocked(folder());
    EXPECT_EQ(startTimed(blocked), Outcome::Alone);
    blocked.Serve([] {}); // does nothing without a listener
    EXPECT_FALSE(blocked.Listening());
}

TEST_F(OneProgram, ConnectionsThatSayNothingOrTooMuchAreClosed) {
    SingleInstance first(folder());
    ASSERT_EQ(first.Start(), Outcome::Listening);
    int shown = 0;
    first.Serve([&shown] { ++shown; });
    const auto connect = [this] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un where = localpeers::address(path());
        return ::connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == 0 ? fd
                                                                                            : -1;
    };
    const auto closedByPeer = [](int fd) {
        // Unread bytes make the close a reset.
        char byte = 0;
        const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno != EAGAIN);
    };
    const int chatty = connect(), silent = connect(), other = connect();
    ASSERT_GE(chatty, 0);
    ASSERT_GE(silent, 0);
    ASSERT_GE(other, 0);
    const std::string noise(200, 'x');
    ASSERT_EQ(::send(chatty, noise.data(), noise.size(), 0), static_cast<ssize_t>(noise.size()));
    ASSERT_EQ(::send(other, "hello\n", 6, 0), 6);
    EXPECT_TRUE(testwait::Until([&] { return closedByPeer(chatty); }, 5000));
    std::string answer;
    EXPECT_TRUE(testwait::Until(
        [&] {
            char bytes[16];
            const ssize_t got = ::recv(other, bytes, sizeof(bytes), MSG_DONTWAIT);
            answer.append(bytes, got > 0 ? static_cast<size_t>(got) : 0);
            return answer.ends_with('\n');
        },
        5000));
    EXPECT_EQ(answer, "unknown\n");
    EXPECT_TRUE(testwait::Until([&] { return closedByPeer(silent); }, 5000))
        << "a silent connection is closed after a while";
    EXPECT_EQ(shown, 0);
    for (const int fd : {chatty, silent, other})
        ::close(fd);
    expectFoundBy(first); // still answering
}
