#include "platform/Sockets.h"

#include "platform/FileCalls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace platform {

namespace {

thread_local int tLastError = 0;

// Every call of this engine either succeeds or records the code of its failure here.
int Fail(int err) {
    tLastError = ErrnoToSocketError(err);
    return -1;
}

template <typename Call> int Retry(Call call) {
    const int r = RetryOnInterrupt(call);
    return r < 0 ? Fail(errno) : r;
}

sockaddr_in ToNative(const SockAddrIn& a) {
    sockaddr_in n{};
    std::memcpy(&n, &a, sizeof n);
    n.sin_family = AF_INET;
    return n;
}

int NativeSendFlags(int flags) {
    return MSG_NOSIGNAL | MSG_DONTWAIT | ((flags & kSendOutOfBand) ? MSG_OOB : 0);
}

bool EndsWithInvalidDomain(std::string name) {
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::string_view tld = "invalid";
    if (name == tld)
        return true;
    return name.size() > tld.size() && name.ends_with(tld) &&
           name[name.size() - tld.size() - 1] == '.';
}

} // namespace

int LastSocketError() {
    return tLastError;
}
void SetLastSocketError(int code) {
    tLastError = code;
}

int ResolverToSocketError(int gaiCode) {
    switch (gaiCode) {
    case 0:
        return 0;
    case EAI_NONAME:
        return sockerr::HostNotFound;
    case EAI_AGAIN:
        return sockerr::TryAgain;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return sockerr::NoData;
    case EAI_SYSTEM:
        return ErrnoToSocketError(errno);
    default:
        return sockerr::NoRecovery;
    }
}

int StartupSocketLibrary() {
    return 0;
}
void CleanupSocketLibrary() {}

int SocketCreate(int family, int type, int protocol) {
    return Retry([&] { return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol); });
}

int SocketBind(int handle, const SockAddrIn& address) {
    const sockaddr_in n = ToNative(address);
    return Retry([&] { return ::bind(handle, reinterpret_cast<const sockaddr*>(&n), sizeof n); });
}

int SocketListen(int handle, int backlog) {
    return Retry([&] { return ::listen(handle, backlog); });
}

int SocketMaxBacklog() {
    return SOMAXCONN;
}

int SocketAccept(int handle, SockAddrIn* peer) {
    sockaddr_in n{};
    socklen_t len = sizeof n;
    const int h = Retry([&] {
        return ::accept4(handle, reinterpret_cast<sockaddr*>(&n), &len,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
    });
    if (h >= 0 && peer)
        std::memcpy(static_cast<void*>(peer), &n, sizeof *peer);
    return h;
}

int SocketConnect(int handle, const SockAddrIn& address) {
    const sockaddr_in n = ToNative(address);
    // A connect interrupted by a signal goes on in the background: retrying would answer
    // EALREADY, so the interruption is reported as "in progress" instead.
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&n), sizeof n) == 0)
        return 0;
    return Fail(errno == EINTR ? EINPROGRESS : errno);
}

int SocketSend(int handle, const void* data, int length, int flags) {
    return Retry([&] {
        return static_cast<int>(
            ::send(handle, data, static_cast<size_t>(std::max(length, 0)), NativeSendFlags(flags)));
    });
}

int SocketSendTo(int handle, const void* data, int length, int flags, const SockAddrIn& to) {
    const sockaddr_in n = ToNative(to);
    return Retry([&] {
        return static_cast<int>(::sendto(handle, data, static_cast<size_t>(std::max(length, 0)),
                                         NativeSendFlags(flags),
                                         reinterpret_cast<const sockaddr*>(&n), sizeof n));
    });
}

int SocketSendGather(int handle, const SendPiece* pieces, int count, int flags) {
    std::array<iovec, kMaxSendPieces> vec{};
    const int n = std::clamp(count, 0, kMaxSendPieces);
    for (int i = 0; i < n; ++i)
        vec[static_cast<size_t>(i)] = {const_cast<void*>(pieces[i].data),
                                       static_cast<size_t>(std::max(pieces[i].length, 0))};
    msghdr message{};
    message.msg_iov = vec.data();
    message.msg_iovlen = static_cast<size_t>(n);
    return Retry(
        [&] { return static_cast<int>(::sendmsg(handle, &message, NativeSendFlags(flags))); });
}

int SocketRecv(int handle, void* buffer, int size) {
    return Retry([&] {
        return static_cast<int>(
            ::recv(handle, buffer, static_cast<size_t>(std::max(size, 0)), MSG_DONTWAIT));
    });
}

int SocketRecvFrom(int handle, void* buffer, int size, SockAddrIn* from, int* fromLength) {
    sockaddr_in n{};
    socklen_t len = sizeof n;
    const int r = Retry([&] {
        return static_cast<int>(::recvfrom(handle, buffer, static_cast<size_t>(std::max(size, 0)),
                                           MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&n), &len));
    });
    if (r >= 0 && from && fromLength && *fromLength > 0) {
        const int copy = std::min<int>(*fromLength, static_cast<int>(sizeof n));
        std::memcpy(static_cast<void*>(from), &n, static_cast<size_t>(copy));
        *fromLength = copy;
    }
    return r;
}

int SocketPeek(int handle) {
    char c;
    const int r =
        Retry([&] { return static_cast<int>(::recv(handle, &c, 1, MSG_PEEK | MSG_DONTWAIT)); });
    return r > 0 ? 1 : r;
}

int SocketShutdown(int handle, int how) {
    return Retry([&] { return ::shutdown(handle, how); });
}

int SocketClose(int handle) {
    // close() must not be retried on EINTR: the handle is released whatever it answers.
    if (::close(handle) == 0 || errno == EINTR)
        return 0;
    return Fail(errno);
}

int SocketPendingBytes(int handle, int* count) {
    int n = 0;
    if (Retry([&] { return ::ioctl(handle, FIONREAD, &n); }) < 0)
        return -1;
    *count = n;
    return 0;
}

int SocketGetPeerName(int handle, void* record, int length) {
    socklen_t len = static_cast<socklen_t>(std::max(length, 0));
    return Retry([&] { return ::getpeername(handle, static_cast<sockaddr*>(record), &len); }) < 0
               ? -1
               : 0;
}

int SocketGetSockName(int handle, void* record, int* length) {
    socklen_t len = static_cast<socklen_t>(std::max(*length, 0));
    if (Retry([&] { return ::getsockname(handle, static_cast<sockaddr*>(record), &len); }) < 0)
        return -1;
    *length = static_cast<int>(len);
    return 0;
}

int SocketSetFlag(int handle, SocketFlag flag, int32_t value) {
    if (flag == SocketFlag::NoDelay || flag == SocketFlag::Cork) {
        const int name = flag == SocketFlag::NoDelay ? TCP_NODELAY : TCP_CORK;
        return Retry([&] { return ::setsockopt(handle, IPPROTO_TCP, name, &value, sizeof value); });
    }
    const int name = flag == SocketFlag::KeepAlive      ? SO_KEEPALIVE
                     : flag == SocketFlag::ReuseAddress ? SO_REUSEADDR
                                                        : SO_BROADCAST;
    return Retry([&] { return ::setsockopt(handle, SOL_SOCKET, name, &value, sizeof value); });
}

int SocketSetLinger(int handle, uint16_t onOff, uint16_t seconds) {
    const linger l{onOff, seconds};
    return Retry([&] { return ::setsockopt(handle, SOL_SOCKET, SO_LINGER, &l, sizeof l); });
}

bool LookupProtocol(const std::string& name, int* number) {
    if (name.empty() || name.size() > kMaxDatabaseName) {
        tLastError = sockerr::InvalidArgument;
        return false;
    }
    protoent entry{};
    protoent* found = nullptr;
    std::array<char, 1024> work{};
    if (::getprotobyname_r(name.c_str(), &entry, work.data(), work.size(), &found) != 0 || !found) {
        tLastError = sockerr::NoData;
        return false;
    }
    *number = found->p_proto;
    return true;
}

bool LookupService(const std::string& name, const std::string& proto, uint16_t* port) {
    if (name.empty() || name.size() > kMaxDatabaseName || proto.size() > kMaxDatabaseName) {
        tLastError = sockerr::InvalidArgument;
        return false;
    }
    servent entry{};
    servent* found = nullptr;
    std::array<char, 1024> work{};
    const char* p = proto.empty() ? nullptr : proto.c_str();
    if (::getservbyname_r(name.c_str(), p, &entry, work.data(), work.size(), &found) != 0 ||
        !found) {
        tLastError = sockerr::NoData;
        return false;
    }
    *port = static_cast<uint16_t>(found->s_port);
    return true;
}

bool LookupHost(const std::string& name, std::vector<uint32_t>* addresses) {
    addresses->clear();
    if (name.empty() || name.size() > kMaxHostName || EndsWithInvalidDomain(name)) {
        tLastError = sockerr::HostNotFound;
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        tLastError = ResolverToSocketError(rc);
        return false;
    }
    for (const addrinfo* a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET)
            addresses->push_back(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(list);
    if (addresses->empty()) {
        tLastError = sockerr::NoData;
        return false;
    }
    return true;
}

uint32_t ParseDottedAddress(const std::string& text) {
    return ::inet_addr(text.c_str());
}

std::string DottedAddress(uint32_t address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

} // namespace platform
