#pragma once

// Plain blocking loopback clients for the tests that talk to a server: connect, send everything,
// read to the end. Run them on a thread of their own when the server's loop runs on the test's.

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace client {

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A `receiveBuffer` above 0 fixes the kernel's receive buffer before connecting, so that a client
// that reads slowly or not at all holds the sender back soon.
inline int connectTo(uint16_t port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    timeval limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    return fd;
}

inline void sendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Everything the server sends until it closes.
inline std::string readAll(int fd) {
    std::string reply;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<size_t>(n));
    }
    return reply;
}

// Sends the pieces with a pause between them, then reads the reply to the end.
inline std::string exchange(uint16_t port, std::vector<std::string> pieces, int pauseMs = 0) {
    const int fd = connectTo(port);
    if (fd < 0)
        return "<connect failed>";
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        sendAll(fd, pieces[i]);
    }
    std::string reply = readAll(fd);
    ::close(fd);
    return reply;
}

} // namespace client
