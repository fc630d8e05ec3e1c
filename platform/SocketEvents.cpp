#include "platform/SocketEvents.h"

#include "platform/PeerEndWatch.h"
#include "platform/SelfPosts.h"
#include "platform/Sockets.h"
#include "platform/ThreadPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

const QEvent::Type kNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kLookupEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct NotifyEvent : QEvent {
    NotifyEvent(unsigned g, int h, int ev, int err)
        : QEvent(kNotifyEvent), generation(g), handle(h), events(ev), error(err) {}
    unsigned generation;
    int handle, events, error;
};

struct LookupEvent : QEvent {
    LookupEvent(LookupRequest r, int err, std::vector<std::uint32_t> a)
        : QEvent(kLookupEvent), request(r), error(err), addresses(std::move(a)) {}
    LookupRequest request;
    int error;
    std::vector<std::uint32_t> addresses;
};

int PendingSocketError(int handle) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        return errno;
    return err;
}

bool IsConnected(int handle) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

int SocketOption(int handle, int name, int* value) {
    socklen_t len = sizeof *value;
    return ::getsockopt(handle, SOL_SOCKET, name, value, &len);
}

} // namespace

// The resolver threads post through this and nothing else: the endpoint clears the target before
// it goes away, so a late completion finds nobody and is dropped.
struct SocketEndpoint::Link {
    std::mutex mutex;
    SocketEndpoint* target = nullptr; // guarded by mutex
};

SocketEndpoint::SocketEndpoint(SocketEventSink* sink)
    : sink_(sink), link_(std::make_shared<Link>()) {
    if (!QAbstractEventDispatcher::instance())
        QEventLoop ensureDispatcher; // gives a thread not started by Qt its dispatcher
    reader_ = new QSocketNotifier(QSocketNotifier::Read, this);
    reader_->setEnabled(false);
    connect(reader_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    link_->target = this;
}

SocketEndpoint::~SocketEndpoint() {
    // Only an endpoint that ever used its thread's list touches it: the list of the main thread
    // may already be gone when a late static object is destroyed.
    if (listUsed_)
        SelfPosts::Drop(this);
    const std::lock_guard<std::mutex> lock(link_->mutex);
    link_->target = nullptr;
}

void SocketEndpoint::SetSelfPumped(bool on) {
    selfPumped_ = on;
    if (on)
        SelfPosts::HookDispatcher();
}

void SocketEndpoint::Arm(QSocketNotifier* notifier, bool on) {
    notifier->setEnabled(on && handle_ >= 0 && events_ != 0);
}

// The write notifier is made the first time it is wanted: a server's connection whose replies
// the transport takes at once never needs it.
void SocketEndpoint::ArmWriter(bool on) {
    if (!writer_) {
        if (!on)
            return;
        writer_ = new QSocketNotifier(QSocketNotifier::Write, this);
        writer_->setEnabled(false);
        writer_->setSocket(handle_);
        connect(writer_, &QSocketNotifier::activated, this, [this] { OnWritable(); });
    }
    Arm(writer_, on);
}

void SocketEndpoint::Forget() {
    Reset(-1);
    events_ = 0;
    ++generation_;
}

void SocketEndpoint::Reset(int handle) {
    reader_->setEnabled(false);
    if (writer_)
        writer_->setEnabled(false);
    if (watch_)
        watch_->Pause();
    if (handle == handle_)
        return;
    if (watch_)
        watch_->Release();
    handle_ = handle;
    reader_->setSocket(handle);
    if (writer_)
        writer_->setSocket(handle);
    listening_ = connectPending_ = closeSent_ = false;
    peerEndSeen_ = inputEnded_ = false;
}

int SocketEndpoint::Select(int handle, int events) {
    if (events == 0) {
        Reset(handle_);
        events_ = 0;
        return 0;
    }
    int type = 0;
    if (handle < 0 || SocketOption(handle, SO_TYPE, &type) < 0) {
        SetLastSocketError(ErrnoToSocketError(handle < 0 ? EBADF : errno));
        return -1;
    }
    Reset(handle);
    events_ = events;
    stream_ = type == SOCK_STREAM;
    int accepting = 0;
    listening_ = stream_ && SocketOption(handle, SO_ACCEPTCONN, &accepting) == 0 && accepting;
    if (listening_) {
        Arm(reader_, events & kEventAccept);
    } else if (connectPending_) {
        ArmWriter(true);
    } else if (!stream_ || IsConnected(handle)) {
        StartConnected(handle);
    } else if (const int err = PendingSocketError(handle); err != 0 && !closeSent_) {
        // The connection broke before it was registered: it still owes its close.
        closeSent_ = true;
        Post(handle, kEventClose, ErrnoToSocketError(err));
    }
    return 0;
}

void SocketEndpoint::SelectConnected(int handle, int events) {
    Reset(handle);
    events_ = events;
    stream_ = true;
    listening_ = connectPending_ = false;
    StartConnected(handle);
}

void SocketEndpoint::StartConnected(int handle) {
    // A registered, working connection is told once that it may send.
    if (events_ & kEventWrite)
        Post(handle, kEventWrite, 0);
    ResumeInput();
}

void SocketEndpoint::Post(int handle, int events, int error) {
    if (selfPumped_) {
        listUsed_ = true;
        SelfPosts::queue.push_back({this, generation_, handle, events, error});
    } else {
        QCoreApplication::postEvent(this, new NotifyEvent(generation_, handle, events, error));
    }
}

void SocketEndpoint::SetPeerCloseEndsInput(bool on) {
    if (on == peerCloseEndsInput_)
        return;
    peerCloseEndsInput_ = on;
    // Switched off past the end: the watch, asked for the end again, reports it as the close.
    if (!on && watch_ && watch_->Active())
        WatchPeerEnd();
}

void SocketEndpoint::ReadDone() {
    if (!listening_ && !connectPending_)
        ResumeInput();
}

void SocketEndpoint::ReadEnd() {
    inputEnded_ = true;
    ReadDone();
}

// Input resumes on the read notifier; past the end of input, which the transport reports as
// readable for ever, only a break is left to be told.
void SocketEndpoint::ResumeInput() {
    if (closeSent_ || handle_ < 0 || !(events_ & (kEventRead | kEventClose)))
        return;
    if (peerCloseEndsInput_ && inputEnded_) {
        Arm(reader_, false);
        WatchPeerEnd();
        return;
    }
    Arm(reader_, true);
    if (watch_)
        watch_->Pause();
}

void SocketEndpoint::WatchPeerEnd() {
    if (closeSent_ || handle_ < 0 || !stream_ || listening_ || connectPending_ ||
        !(events_ & (kEventRead | kEventClose)))
        return;
    if (!watch_)
        watch_ = std::make_unique<PeerEndWatch>(this);
    // Once the peer's orderly close is taken as the end of input, it would keep the watch ready.
    const bool endKnown = peerCloseEndsInput_ && (peerEndSeen_ || inputEnded_);
    watch_->Start(handle_, endKnown ? 0u : std::uint32_t{EPOLLRDHUP});
}

void SocketEndpoint::AcceptDone() {
    acceptedInNotice_ = true;
    if (listening_)
        Arm(reader_, events_ & kEventAccept);
}

// The handler of an accept notice nearly always accepts at once. The notifier is switched off
// only when it did not (until it does): each switch makes the toolkit's main loop wake itself up,
// which cost the UI thread two wake-ups per connection.
void SocketEndpoint::OnAcceptable() {
    if (inAcceptNotice_) {
        // A loop run by the handler: one notice until the handler accepts.
        Arm(reader_, false);
        return;
    }
    inAcceptNotice_ = true;
    acceptedInNotice_ = false;
    const QPointer<SocketEndpoint> self(this);
    const unsigned generation = generation_;
    Deliver(kEventAccept, 0);
    if (!self)
        return;
    inAcceptNotice_ = false;
    if (generation_ == generation && listening_ && !acceptedInNotice_)
        Arm(reader_, false);
}

void SocketEndpoint::SendRefused() {
    if (!connectPending_ && !listening_)
        ArmWriter(events_ & kEventWrite);
}

void SocketEndpoint::ConnectStarted() {
    if (!(events_ & kEventConnect))
        return;
    connectPending_ = true;
    reader_->setEnabled(false);
    ArmWriter(true);
}

void SocketEndpoint::OnWritable() {
    ArmWriter(false);
    if (!connectPending_) {
        if (events_ & kEventWrite)
            Deliver(kEventWrite, 0);
        return;
    }
    const int err = PendingSocketError(handle_);
    if (err == 0 && !IsConnected(handle_)) {
        ArmWriter(true); // woken before the attempt ended: its outcome is still to come
        return;
    }
    connectPending_ = false;
    if (err == 0) {
        Arm(reader_, events_ & (kEventRead | kEventClose));
        if (events_ & kEventWrite)
            Post(handle_, kEventWrite, 0); // the first write follows the connect, in that order
    }
    Deliver(kEventConnect, ErrnoToSocketError(err));
}

void SocketEndpoint::OnReadable() {
    if (listening_ && (events_ & kEventAccept)) {
        OnAcceptable();
        return;
    }
    Arm(reader_, false);
    if (listening_ || !stream_) {
        const int bit = listening_ ? kEventAccept : kEventRead;
        if (events_ & bit)
            Deliver(bit, 0);
        return;
    }
    const short revents = PollConnection();
    if (EndsConnection(revents))
        DeliverClose(revents);
    else if (revents & POLLRDHUP)
        DeliverPeerEnd();
    else if (revents & POLLIN)
        DeliverRead();
    else
        Arm(reader_, true);
}

void SocketEndpoint::OnPeerEndWatch() {
    watch_->Pause();
    const short revents = PollConnection();
    if (EndsConnection(revents))
        DeliverClose(revents);
    else if ((revents & POLLRDHUP) && !peerEndSeen_)
        DeliverPeerEnd();
    else
        WatchPeerEnd();
}

short SocketEndpoint::PollConnection() const {
    pollfd p{handle_, POLLIN | POLLRDHUP, 0};
    while (::poll(&p, 1, 0) < 0 && errno == EINTR) {
    }
    return p.revents;
}

bool SocketEndpoint::EndsConnection(short revents) const {
    return (revents & (POLLERR | POLLHUP)) || ((revents & POLLRDHUP) && !peerCloseEndsInput_);
}

// A handler that takes nothing leaves the read notifier off (it would fire again at once over the
// unread bytes); the end of the connection is then watched for apart. A handler that reads
// re-arms the notifier and never pays for the watch.
void SocketEndpoint::DeliverRead() {
    const QPointer<SocketEndpoint> self(this);
    const unsigned generation = generation_;
    if (events_ & kEventRead)
        Deliver(kEventRead, 0);
    if (self && generation_ == generation && !reader_->isEnabled())
        WatchPeerEnd();
}

// The peer's orderly close, taken as the end of input: a read notice like any other, in which the
// reads give the bytes still waiting and then 0. With none waiting it is the end itself.
void SocketEndpoint::DeliverPeerEnd() {
    peerEndSeen_ = true;
    int waiting = 0;
    if (SocketPendingBytes(handle_, &waiting) == 0 && waiting == 0)
        inputEnded_ = true;
    DeliverRead();
}

// The peer's end is gone; data still waiting are handed over by the close handling.
void SocketEndpoint::DeliverClose(short revents) {
    const int err = (revents & POLLERR) ? PendingSocketError(handle_) : 0;
    closeSent_ = true;
    Arm(reader_, false);
    if (watch_)
        watch_->Release();
    if (events_ & kEventClose)
        Deliver(kEventClose, ErrnoToSocketError(err));
}

// Handlers run inside the toolkit's event dispatch, which must not be unwound by an exception:
// it is kept and rethrown by the pump or wait of this thread, or shown when there is none.
// Nothing of this endpoint is touched after the call: a handler may have closed the socket.
template <typename Call> void SocketEndpoint::Dispatch(Call call) {
    CountDelivery();
    try {
        call();
    } catch (...) {
        RelayHandlerError(std::current_exception());
    }
}

void SocketEndpoint::Deliver(int events, int error) {
    Deliver(handle_, events, error);
}

void SocketEndpoint::Deliver(int handle, int events, int error) {
    Dispatch([&] { sink_->OnSocketNotify(handle, events, error); });
}

void SocketEndpoint::customEvent(QEvent* event) {
    {
        // A completion is built and posted under this lock by a resolver thread. The toolkit's
        // queue hands the event over safely, but with locks the thread checker cannot see;
        // taking ours once makes the handover visible to it too.
        const std::lock_guard<std::mutex> handover(link_->mutex);
    }
    // Posted events are delivered at the start of the dispatcher's pass; a blocking pass would
    // then sleep out its whole bound although a handler may just have ended what the wait waits
    // for. Readiness handlers run after the sleep and need no such call.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
    if (event->type() == SelfPosts::RunEvent()) {
        SelfPosts::Run();
    } else if (event->type() == kNotifyEvent) {
        const auto* n = static_cast<NotifyEvent*>(event);
        if (n->generation != generation_)
            return; // queued for a connection that has been released since
        Dispatch([&] { sink_->OnSocketNotify(n->handle, n->events, n->error); });
    } else if (event->type() == kLookupEvent) {
        auto* l = static_cast<LookupEvent*>(event);
        if (lookups_.erase(l->request) == 0)
            return; // cancelled meanwhile
        Dispatch([&] { sink_->OnLookupDone(l->request, l->error, l->addresses); });
    }
}

LookupRequest SocketEndpoint::StartLookup(const std::string& host) {
    const LookupRequest request = StartHostLookup(
        host, [link = link_](LookupRequest done, int error, std::vector<std::uint32_t> addresses) {
            const std::lock_guard<std::mutex> lock(link->mutex);
            if (link->target)
                QCoreApplication::postEvent(link->target,
                                            new LookupEvent(done, error, std::move(addresses)));
        });
    if (request != 0)
        lookups_.insert(request);
    return request;
}

int SocketEndpoint::CancelLookup(LookupRequest request) {
    if (lookups_.erase(request) != 0)
        return 0;
    SetLastSocketError(sockerr::InvalidArgument);
    return -1;
}

} // namespace platform
