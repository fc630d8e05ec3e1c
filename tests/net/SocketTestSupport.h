#pragma once

#include "net/WSocket.h"
#include "platform/SocketEvents.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

// Loopback helpers for the socket object's tests: a plain blocking peer on the other end, and a
// way to run the calling thread's events until something happened (bounded generously, so that
// a slow machine only makes a test slower, never wrong).
namespace sockettest {

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

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A blocking socket owned by the test, closed on destruction.
class RawSocket {
public:
    explicit RawSocket(int fd = -1) : fd_(fd) {}
    ~RawSocket() { Close(); }
    RawSocket(RawSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    static RawSocket ConnectTo(uint16_t port) {
        RawSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in a = Loopback(port);
        if (::connect(s.fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
            s.Close();
        return s;
    }
    // A listener on 127.0.0.1 and a port chosen by the system.
    static RawSocket ListenAny(uint16_t* port) {
        RawSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a = Loopback(0);
        ::bind(s.fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
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
    void SendAll(const std::string& data) const {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
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
    // True when the peer closed (orderly or by reset) within patience.
    bool SeesClose(int patienceMs = kPatienceMs) const {
        char c;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, patienceMs) <= 0)
            return false;
        return ::recv(fd_, &c, 1, 0) <= 0;
    }
    void SetReceiveBuffer(int bytes) const {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }

private:
    int fd_;
};

// Exposes the protected state the tests look at, and records the events in order.
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
    using TCustomWSocket::AddrAssigned;
    using TCustomWSocket::AllSent;
    using TCustomWSocket::ChangeState;
    using TCustomWSocket::HandleSocketNotify;
    using TCustomWSocket::LookupHandle;
    using TCustomWSocket::NotifyWindow;
    using TCustomWSocket::PortAssigned;
    using TCustomWSocket::PortNumber;
    using TCustomWSocket::ProtoAssigned;
    using TCustomWSocket::ProtoNumber;
    using TCustomWSocket::QueueData;
    using TCustomWSocket::RemoteAddress;
    using TCustomWSocket::ReportSocketError;
    using TCustomWSocket::SendFlagsValue;
    using TCustomWSocket::SendQueue;
    using TCustomWSocket::SocketHandle;
    using TCustomWSocket::SocketType;

    std::vector<std::string> log;

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

// A socket object adopting the server side of a fresh loopback connection, and its client end.
struct AdoptedPair {
    uint16_t port = 0; // first: the two below fill and use it
    RawSocket listener;
    RawSocket client;
    AdoptedPair() : listener(RawSocket::ListenAny(&port)), client(RawSocket::ConnectTo(port)) {}
    int AcceptHandle() const { return listener.Accept().Release(); }
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
