#pragma once

// What a start may find at the local socket's path: a file a crashed program left, a listener
// that accepts and never answers, one that answers what it likes.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace localpeers {

inline sockaddr_un address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    return address;
}

// A socket file that nobody listens on, as a program killed outright leaves it.
inline bool makeStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un where = address(path);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == 0;
    ::close(fd);
    return bound;
}

// Listens at `path` on a thread of its own, accepts every connection and gives each `answer`
// (nothing at all when empty), keeping them open until it goes. The file is left behind, as a
// hung program would leave it.
class Listener {
public:
    explicit Listener(const std::string& path, std::string answer = {})
        : answer_(std::move(answer)) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un where = address(path);
        ok_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == 0 &&
              ::listen(fd_, 8) == 0;
        if (ok_)
            thread_ = std::thread([this] { run(); });
    }
    ~Listener() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (const int fd : accepted_)
            ::close(fd);
        ::close(fd_);
    }
    bool Ok() const { return ok_; }
    int Accepted() const { return count_; }

private:
    void run() {
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 10) <= 0)
                continue;
            const int fd = ::accept(fd_, nullptr, nullptr);
            if (fd < 0)
                continue;
            // Counted before it answers: the asker may look as soon as it has the answer.
            accepted_.push_back(fd);
            ++count_;
            if (!answer_.empty()) {
                [[maybe_unused]] const ssize_t n = ::send(fd, answer_.data(), answer_.size(), 0);
            }
        }
    }

    const std::string answer_;
    int fd_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0};
    std::vector<int> accepted_; // the listener's thread only, until it is joined
    std::thread thread_;
};

} // namespace localpeers
