#pragma once

// Ports on 127.0.0.1 that a test takes for itself: one that nothing listens on, or a listening
// socket that the test accepts on by hand.

#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testnet {

// A socket bound to a port of the kernel's choice, which it puts in `port`; listening when
// `backlog` is above 0. `flags` go to the socket's type (SOCK_NONBLOCK, say). -1 when the
// kernel refused any step.
inline int bindAnyPort(uint16_t& port, int backlog, int flags = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = client::loopback(0);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (backlog > 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A port that nothing listens on at the moment of asking.
inline uint16_t freePort() {
    uint16_t port = 0;
    if (const int fd = bindAnyPort(port, 0); fd >= 0)
        ::close(fd);
    return port;
}

// A listening socket that the test drives by hand; closed with the object. `fd` is -1 when the
// kernel refused it.
struct Listener {
    explicit Listener(int backlog = 4, int flags = 0) : fd(bindAnyPort(port, backlog, flags)) {}
    ~Listener() {
        if (fd >= 0)
            ::close(fd);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    uint16_t port = 0; // before `fd`, whose initialiser sets it
    int fd;
};

} // namespace testnet
