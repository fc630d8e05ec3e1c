#pragma once

#include "platform/HostLookup.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QSocketNotifier;

// The per-thread event source of the socket layer. Readiness of a handle (seen through Qt's
// per-thread event dispatcher) becomes the five notification kinds the socket object is written
// against, with their re-enabling rules:
//   read    when data arrive, and again after every read by the object while data remain;
//   write   once when a connection is established or adopted, then only after a send was refused
//           for lack of room and room came back;
//   accept  when a connection is pending, and again after every accept while more are pending;
//   connect once when a connection attempt ends, with 0 or the failure code;
//   close   once when the peer closed (0) or the connection broke (the code), whether or not the
//           data before it were read.
// A connection may instead treat the peer's orderly close as the end of its input only (see
// SetPeerCloseEndsInput).
// Everything runs on the thread that created the endpoint, only while it processes its events.
namespace platform {

enum SocketEventBits : int {
    kEventRead = 1,
    kEventWrite = 2,
    kEventOutOfBand = 4,
    kEventAccept = 8,
    kEventConnect = 16,
    kEventClose = 32,
};

// What an endpoint calls back; implemented by the socket object.
class SocketEventSink {
public:
    virtual void OnSocketNotify(int handle, int events, int error) = 0;
    virtual void OnLookupDone(LookupRequest request, int error,
                              const std::vector<std::uint32_t>& addresses) = 0;

protected:
    ~SocketEventSink() = default;
};

class SocketEndpoint : public QObject {
public:
    // Binds the endpoint to the calling thread, giving that thread an event dispatcher if it has
    // none yet (threads not started by Qt).
    explicit SocketEndpoint(SocketEventSink* sink);
    ~SocketEndpoint() override;
    SocketEndpoint(const SocketEndpoint&) = delete;
    SocketEndpoint& operator=(const SocketEndpoint&) = delete;

    // Asks for the event set on handle; a later request replaces the earlier one, and the empty
    // set stops notifications while keeping what is known of the connection (pausing). Fails
    // (-1 and the last error) for a handle that is not a socket.
    int Select(int handle, int events);
    // Select for a handle known to be a connected stream (one just accepted): the same outcome
    // without asking the transport what the handle is. A connection that broke meanwhile is still
    // told, by the first notice.
    void SelectConnected(int handle, int events);
    // Drops the registration before the handle is closed: the number may come back for another
    // connection, which must start afresh, and notifications still queued for it are dropped.
    void Forget();
    // Queues a notification to oneself, delivered like one that came from the transport.
    void Post(int handle, int events, int error);
    // Says that the owning thread runs this layer's pumps and waits itself (a socket object
    // used from a worker thread). Its own notifications then skip the toolkit's queue and its
    // wake-up: they wait in a list of the thread that the pumps and waits run first, which makes
    // a send's notice cost no system call. A toolkit loop on that thread still runs them before
    // it blocks. Must be called on the owning thread.
    void SetSelfPumped(bool on);

    // Off (the default): the peer's orderly close brings the close notice. On: it brings one
    // more read notice instead, in which a read gives 0 (once the data before it are read); the
    // connection stays usable for sending, no read notice follows the end, and only a broken
    // connection (error, reset, hang-up both ways) brings the close notice. Kept across
    // connections.
    void SetPeerCloseEndsInput(bool on);
    // The end of the current connection's input was seen: by a read that gave 0, or (with the
    // setting above) by the read notice that reported it.
    bool InputEnded() const { return inputEnded_; }

    // The socket object tells what it did, which is what the re-enabling rules depend on.
    void ReadDone();
    // A read that gave 0 bytes: the peer will send nothing more.
    void ReadEnd();
    void AcceptDone();
    void SendRefused();
    void ConnectStarted();

    // Starts a host lookup on a resolver thread of its own; the completion is queued to this
    // endpoint with the request, a code (0 or 11001-11004) and the addresses in the resolver's
    // order. Returns 0 (and the last error) when no thread could be started.
    LookupRequest StartLookup(const std::string& host);
    // Drops a request that has not been delivered yet; -1 (code 10022) for any other.
    int CancelLookup(LookupRequest request);

protected:
    void customEvent(QEvent* event) override;

private:
    struct Link;
    class PeerEndWatch;
    friend struct SelfPosts;
    void Reset(int handle);
    void StartConnected(int handle);
    void Arm(QSocketNotifier* notifier, bool on);
    void ArmWriter(bool on);
    void OnReadable();
    void OnPeerEndWatch();
    short PollConnection() const;
    bool EndsConnection(short revents) const;
    void DeliverRead();
    void DeliverPeerEnd();
    void DeliverClose(short revents);
    void ResumeInput();
    void WatchPeerEnd();
    void OnAcceptable();
    void OnWritable();
    void Deliver(int events, int error);
    void Deliver(int handle, int events, int error);
    template <typename Call> void Dispatch(Call call);

    SocketEventSink* sink_;
    std::shared_ptr<Link> link_;        // shared with resolver threads, which only post through it
    QSocketNotifier* reader_;           // children of this object
    QSocketNotifier* writer_ = nullptr; // made when first wanted
    // Created the first time a read notice is left unconsumed; most connections never need it.
    std::unique_ptr<PeerEndWatch> watch_;
    int handle_ = -1;
    int events_ = 0;
    unsigned generation_ = 0; // counts Forget(); a queued notification of an older one is stale
    bool stream_ = true;
    bool listening_ = false;
    bool connectPending_ = false;
    bool closeSent_ = false;
    bool peerCloseEndsInput_ = false;
    bool peerEndSeen_ = false;      // the peer's orderly close, taken as the end of input
    bool inputEnded_ = false;       // and no byte is left before it
    bool inAcceptNotice_ = false;   // an accept notice is being delivered
    bool acceptedInNotice_ = false; // and its handler accepted
    bool selfPumped_ = false;
    bool listUsed_ = false; // something was queued on the thread's list of self-posted notices
    std::set<LookupRequest> lookups_; // started and neither delivered nor cancelled
};

// Notices that self-pumped endpoints of the calling thread have queued and not yet run.
int QueuedSelfPosts();
// Runs those notices that were queued when it starts (later ones wait for the next run, so that a
// handler that keeps posting cannot hold the thread); stops after a handler's exception, which
// the pump that called it rethrows. True when any ran. For the pumps and waits of ThreadPump.h.
bool RunSelfPostedNotices();

} // namespace platform
