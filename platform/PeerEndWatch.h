#pragma once

#include "platform/SocketEvents.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/epoll.h>
#include <unistd.h>

namespace platform {

// Watches a connection for its end while its read notifier is off because a read notice went
// unconsumed: that notifier is level-triggered, so it cannot stay on over unread bytes without
// firing again and again. An epoll instance that holds the connection for the peer's orderly close
// only (or for nothing, which still reports errors and hang-ups) is readable exactly when the end
// comes, and the arrival of more data does not wake it.
class SocketEndpoint::PeerEndWatch {
public:
    explicit PeerEndWatch(SocketEndpoint* owner)
        : notifier_(new QSocketNotifier(QSocketNotifier::Read, owner)) {
        notifier_->setEnabled(false);
        QObject::connect(notifier_, &QSocketNotifier::activated, owner,
                         [owner] { owner->OnPeerEndWatch(); });
    }
    ~PeerEndWatch() { Release(); }
    PeerEndWatch(const PeerEndWatch&) = delete;
    PeerEndWatch& operator=(const PeerEndWatch&) = delete;

    // False when no epoll instance could be had; the end then waits for the next read.
    bool Start(int handle, std::uint32_t mask) {
        if (fd_ < 0) {
            fd_ = ::epoll_create1(EPOLL_CLOEXEC);
            if (fd_ < 0)
                return false;
            notifier_->setSocket(fd_);
            registered_ = false;
        }
        if (!registered_ || mask != mask_) {
            epoll_event e{};
            e.events = mask;
            e.data.fd = handle;
            if (::epoll_ctl(fd_, registered_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, handle, &e) < 0)
                return false;
            registered_ = true;
            mask_ = mask;
        }
        notifier_->setEnabled(true);
        return true;
    }
    void Pause() { notifier_->setEnabled(false); }
    // The instance holds the connection: it goes with it, before the number can come back.
    void Release() {
        notifier_->setEnabled(false);
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        registered_ = false;
    }
    bool Active() const { return notifier_->isEnabled(); }

private:
    QSocketNotifier* notifier_; // a child of the endpoint, like its other notifiers
    int fd_ = -1;
    bool registered_ = false;
    std::uint32_t mask_ = 0;
};

} // namespace platform
