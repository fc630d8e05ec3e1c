#include "platform/Sockets.h"
#include "platform/ThreadPump.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace platform;

TEST(SocketErrors, ErrnoMapsToTheCodeOfTheSameCondition) {
    const std::pair<int, int> cases[] = {{EAGAIN, 10035},
                                         {EINPROGRESS, 10035},
                                         {ECONNRESET, 10054},
                                         {EPIPE, 10054},
                                         {ENOTCONN, 10057},
                                         {EINVAL, 10022},
                                         {EADDRINUSE, 10048},
                                         {EADDRNOTAVAIL, 10049},
                                         {ECONNREFUSED, 10061},
                                         {EACCES, 10013},
                                         {EBADF, 10038},
                                         {ENOTSOCK, 10038},
                                         {ETIMEDOUT, 10060},
                                         {EHOSTUNREACH, 10065},
                                         {ENETUNREACH, 10051},
                                         {EMFILE, 10024},
                                         {0, 0}};
    for (const auto& [err, code] : cases)
        EXPECT_EQ(ErrnoToSocketError(err), code) << err;
    EXPECT_EQ(ErrnoToSocketError(EIO), kUnmappedErrorBase + EIO);
}

TEST(SocketErrors, ResolverFailuresMapTo11001Through11004) {
    EXPECT_EQ(ResolverToSocketError(EAI_NONAME), 11001);
    EXPECT_EQ(ResolverToSocketError(EAI_AGAIN), 11002);
    EXPECT_EQ(ResolverToSocketError(EAI_FAIL), 11003);
    EXPECT_EQ(ResolverToSocketError(EAI_NODATA), 11004);
}

TEST(SocketErrors, FailedCallsLeaveTheirCodePerThread) {
    SetLastSocketError(0);
    EXPECT_EQ(SocketClose(-1), -1);
    EXPECT_EQ(LastSocketError(), 10038);
    int seen = -1;
    std::thread([&] { seen = LastSocketError(); }).join();
    EXPECT_EQ(seen, 0);
}

TEST(HostLookup, ReservedInvalidDomainIsNotFoundWithoutAsking) {
    std::vector<uint32_t> found{1};
    for (const char* name : {"x.invalid", "A.B.INVALID.", "invalid"}) {
        EXPECT_FALSE(LookupHost(name, &found)) << name;
        EXPECT_EQ(LastSocketError(), 11001);
        EXPECT_TRUE(found.empty());
    }
    EXPECT_TRUE(LookupHost("localhost", &found));
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(DottedAddress(found.front()), "127.0.0.1");
}

TEST(Databases, RefuseOverlongNames) {
    int number = 0;
    uint16_t port = 0;
    EXPECT_TRUE(LookupProtocol("udp", &number));
    EXPECT_EQ(number, 17);
    EXPECT_FALSE(LookupProtocol(std::string(32, 'u'), &number));
    EXPECT_TRUE(LookupService("http", "tcp", &port));
    EXPECT_FALSE(LookupService("http", std::string(32, 't'), &port));
}

TEST(DottedAddresses, ParseAndWriteInFullForm) {
    EXPECT_EQ(DottedAddress(ParseDottedAddress("10.1.2.3")), "10.1.2.3");
    EXPECT_EQ(DottedAddress(ParseDottedAddress("127.1")), "127.0.0.1");
    EXPECT_EQ(ParseDottedAddress("not an address"), kAddressNone);
}

TEST(EventSource, PumpWithNothingQueuedReturnsAtOnce) {
    const uint32_t start = TickCount();
    PumpThreadEvents();
    EXPECT_LT(TickCount() - start, 1000u);
}

// One table gives both the translation of system errors and the texts: each code once, each
// system error under one code, and every translated error described.
TEST(SocketErrorTable, OneSourceForCodesAndTexts) {
    std::set<int> codes;
    std::set<int> errnos;
    for (const platform::SocketErrorEntry& entry : platform::SocketErrorTable()) {
        EXPECT_TRUE(codes.insert(entry.code).second) << entry.name;
        EXPECT_EQ(platform::SocketErrorText(entry.code), entry.text);
        for (const int err : entry.errnos) {
            if (err == 0)
                continue;
            EXPECT_TRUE(errnos.insert(err).second) << entry.name << " shares errno " << err;
            EXPECT_EQ(platform::ErrnoToSocketError(err), entry.code) << entry.name;
        }
    }
    EXPECT_EQ(platform::ErrnoToSocketError(0), 0);
    EXPECT_EQ(platform::SocketErrorText(0), "No Error");
    EXPECT_EQ(platform::ErrnoToSocketError(ECHILD), platform::kUnmappedErrorBase + ECHILD);
    EXPECT_EQ(platform::SocketErrorText(platform::kUnmappedErrorBase + ECHILD),
              "Not a WinSock error");
    EXPECT_EQ(platform::ErrnoToSocketError(EPIPE), platform::sockerr::ConnectionReset);
    EXPECT_EQ(platform::SocketErrorText(platform::sockerr::TooManyOpenFiles),
              "Too many open files");
}

namespace {

std::atomic<int> gSignalsCaught{0};
void countSignal(int) {
    gSignalsCaught.fetch_add(1);
}

} // namespace

// A signal that arrives while a call waits (a handler installed without SA_RESTART, as other
// code in the program may do) must not fail the call: it is made again.
TEST(SocketCalls, ACallInterruptedByASignalIsMadeAgain) {
    struct sigaction caught {};
    caught.sa_handler = countSignal;
    sigemptyset(&caught.sa_mask);
    struct sigaction old {};
    ASSERT_EQ(::sigaction(SIGUSR1, &caught, &old), 0);

    // A blocking listener, so that the accept below waits inside the system call.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    gSignalsCaught = 0;
    const pthread_t waiter = ::pthread_self();
    std::thread peer([&] {
        // Signals until one surely found the accept waiting, then the connection it waits for.
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::pthread_kill(waiter, SIGUSR1);
        }
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::close(client);
    });
    const int accepted = SocketAccept(listener, nullptr);
    const int code = LastSocketError();
    peer.join();
    ::sigaction(SIGUSR1, &old, nullptr);

    EXPECT_GE(accepted, 0) << "error " << code;
    EXPECT_GE(gSignalsCaught.load(), 1);
    if (accepted >= 0)
        ::close(accepted);
    ::close(listener);
}
