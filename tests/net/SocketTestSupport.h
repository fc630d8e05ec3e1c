#pragma once

#include "net/WSocket.h"
#include "platform/SocketEvents.h"
#include "platform/ThreadPump.h"
#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Loopback helpers for the socket object's tests: a plain blocking peer on the other end, and a
// way to run the calling thread's events until something happened (bounded generously, so that
// a slow machine only makes a test slower, never wrong).
namespace sockettest {

using Log = std::vector<std::string>;

constexpr int kPatienceMs = 10000;

inline bool PumpUntil(const std::function<bool()>& done, int patienceMs = kPatienceMs) {
    const uint32_t start = platform::TickCount();
    while (!done()) {
        if (static_cast<int32_t>(platform::TickCount() - start) > patienceMs)
            return false;
        platform::WaitThreadEvents(20);
    }
    return true;
}

// Runs the thread's events for a while, for checks that something does NOT happen.
inline void PumpFor(int ms) {
    const uint32_t start = platform::TickCount();
    while (static_cast<int32_t>(platform::TickCount() - start) < ms)
        platform::WaitThreadEvents(10);
}

// Waits, without running any event, until the transport shows on handle what `events` ask for
// (POLLERR and POLLHUP always count): the object then meets the whole story in one notification.
inline bool TransportShows(int handle, short events, int patienceMs = kPatienceMs) {
    pollfd p{handle, events, 0};
    return ::poll(&p, 1, patienceMs) > 0;
}

// A blocking socket owned by the test, closed on destruction.
class RawSocket {
public:
    explicit RawSocket(int fd = -1) : fd_(fd) {}
    ~RawSocket() { Close(); }
    RawSocket(RawSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    // A `receiveBuffer` above 0 is fixed before connecting (see client::connectTo).
    static RawSocket ConnectTo(uint16_t port, int receiveBuffer = 0) {
        return RawSocket(client::connectTo(port, receiveBuffer));
    }
    // A listener (or, for SOCK_DGRAM, a receiver) on 127.0.0.1 and a port chosen by the system.
    static RawSocket ListenAny(uint16_t* port, int type = SOCK_STREAM) {
        RawSocket s(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
        sockaddr_in a = client::loopback(0);
        ::bind(s.fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (type == SOCK_STREAM)
            ::listen(s.fd_, 16);
        socklen_t len = sizeof a;
        ::getsockname(s.fd_, reinterpret_cast<sockaddr*>(&a), &len);
        *port = ntohs(a.sin_port);
        return s;
    }
    RawSocket Accept() const { return RawSocket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)); }

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Closing with linger 0 resets the connection instead of ending it in order.
    void Reset() {
        const linger drop{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
        Close();
    }
    void SendAll(const std::string& data) const { client::sendAll(fd_, data); }
    // Reads until count bytes came, the peer closed, or patience ran out.
    std::string ReadExactly(size_t count, int patienceMs = kPatienceMs) const {
        std::string out;
        char buf[65536];
        while (out.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, patienceMs) <= 0)
                break;
            const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, count - out.size()), 0);
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    // One datagram, or a text in angle brackets saying why none came.
    std::string ReadDatagram(int patienceMs = kPatienceMs) const {
        char buf[65536];
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, patienceMs) <= 0)
            return "<no datagram>";
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n < 0 ? "<recv failed>" : std::string(buf, static_cast<size_t>(n));
    }
    // True when the peer closed (orderly or by reset) within patience.
    bool SeesClose(int patienceMs = kPatienceMs) const {
        char c;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, patienceMs) <= 0)
            return false;
        return ::recv(fd_, &c, 1, 0) <= 0;
    }

private:
    int fd_;
};

// A port nothing listens on: bound once by the system's choice, then released.
inline uint16_t FreePort() {
    uint16_t port = 0;
    RawSocket s = RawSocket::ListenAny(&port);
    return port;
}

// Records the events in order. Two members are planted rather than reached through an operation:
// a send flag other than the two the setter stores and a lookup request the event source never
// started are states only a derived class's own code can bring about.
class ProbeSocket : public TWSocket {
public:
    using TWSocket::TWSocket;
    // The handlers write into log, which is gone before the base destructor closes the object.
    ~ProbeSocket() override {
        OnChangeState = nullptr;
        OnSessionConnected = nullptr;
        OnSessionClosed = nullptr;
        OnDataSent = nullptr;
        OnError = nullptr;
        OnDataAvailable = nullptr;
        OnDnsLookupDone = nullptr;
    }
    ProbeSocket(const ProbeSocket&) = delete;
    ProbeSocket& operator=(const ProbeSocket&) = delete;
    using TCustomWSocket::LookupHandle;
    using TCustomWSocket::SendFlagsValue;

    Log log;

    // Records every event as a short text, e.g. "state 3>4", "connected 10061", "closed 0".
    void RecordAll() {
        OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
            log.push_back("state " + std::to_string(o) + ">" + std::to_string(n));
        };
        OnSessionConnected = [this](TCustomWSocket*, uint16_t e) {
            log.push_back("connected " + std::to_string(e));
        };
        OnSessionClosed = [this](TCustomWSocket*, uint16_t e) {
            log.push_back("closed " + std::to_string(e));
        };
        OnDataSent = [this](TCustomWSocket*, uint16_t e) {
            log.push_back("sent " + std::to_string(e));
        };
        OnError = [this](TCustomWSocket*) { log.push_back("error"); };
    }
    // Also records each data notice as "data" and, when reads is set, what a read of at most 4
    // bytes gave ("read 3"); the bytes go to received.
    void RecordReads() {
        OnDataAvailable = [this](TCustomWSocket* sender, uint16_t) {
            log.push_back("data");
            if (!reads)
                return;
            char buf[4] = {};
            const int n = sender->Receive(buf, sizeof buf);
            log.push_back("read " + std::to_string(n));
            received.append(buf, static_cast<size_t>(std::max(n, 0)));
        };
    }
    bool reads = true;
    std::string received;

    size_t Count(const std::string& entry) const {
        return static_cast<size_t>(std::count(log.begin(), log.end(), entry));
    }
};

// Listens on 127.0.0.1 and a free port; returns the port.
inline uint16_t ListenOnLoopback(TCustomWSocket& s) {
    s.SetPort("0");
    s.SetAddr("127.0.0.1");
    if (s.Listen() != 0)
        return 0;
    return static_cast<uint16_t>(std::stoi(s.GetLocalPort()));
}

// The dotted address the object's handle is bound to, or "none".
inline std::string BoundAddress(TCustomWSocket& s) {
    platform::SockAddrIn name{};
    int32_t length = sizeof name;
    if (s.GetSockName(name, length) != 0)
        return "none";
    return platform::DottedAddress(name.Addr);
}

// Whether the object still refers to a handle. A fresh socket takes the lowest free number first,
// the one the object let go of if it did: a number kept after its close then shows as well as a
// handle never closed.
inline bool HoldsAHandle(TCustomWSocket& s) {
    const RawSocket taker(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return BoundAddress(s) != "none";
}

// A socket object adopting the server side of a fresh loopback connection, and its client end.
struct AdoptedPair {
    uint16_t port = 0; // first: the two below fill and use it
    RawSocket listener;
    RawSocket client;
    explicit AdoptedPair(int clientReceiveBuffer = 0)
        : listener(RawSocket::ListenAny(&port)),
          client(RawSocket::ConnectTo(port, clientReceiveBuffer)) {}
    int AcceptHandle() const { return listener.Accept().Release(); }
};

// A datagram receiver on 127.0.0.1, and the way for an object to send it datagrams.
struct DatagramPair {
    uint16_t port = 0; // first: the receiver fills it
    RawSocket receiver;
    DatagramPair() : receiver(RawSocket::ListenAny(&port, SOCK_DGRAM)) {}
    // Connects s, closed, to the receiver; true when s is connected.
    bool Connect(TCustomWSocket& s) const {
        s.SetProto("udp");
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(port));
        s.Connect();
        return s.State() == wsConnected;
    }
};

// The text of the socket error a call raises, or "no exception".
inline std::string ExceptionText(const std::function<void()>& call) {
    try {
        call();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace sockettest
