#pragma once

#include "net/WSockbuf.h"
#include "platform/SocketEvents.h"
#include "platform/Sockets.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

// The event-driven, non-blocking IPv4 socket object. A caller sets Addr, Port and Proto, starts an
// operation and returns at once; what happens later is reported through the events, which run on
// the thread that created the object, whenever that thread processes its events (its main loop,
// PumpSocketMessages or one of the waits below). An object has no lock: use it from its own
// thread only, and never destroy it inside one of its own handlers.
//
// Failures: with an OnError handler set, a report fires OnError and the operation goes on as
// documented; without one it raises ESocketException with the text and the operation ends there.

enum TSocketState : uint8_t {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsConnected = 4,
    wsAccepting = 5, // never entered
    wsListening = 6,
    wsClosed = 7,
};

enum TSocketSendFlags : uint8_t { wsSendNormal = 0, wsSendUrgent = 1 };

class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TCustomWSocket;

using TDataAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;

// An argument of ReportErrorFmt: %s takes a text, %d a number.
using TFormatArg = std::variant<std::string, int32_t>;

// A seconds and microseconds pair.
struct TTimeVal {
    int32_t tv_sec = 0;
    int32_t tv_usec = 0;
};

// The wait object a single-threaded socket runs while it waits (a countdown shown to the user).
// A socket that refers to one forgets it when it is destroyed.
class TWait {
public:
    TWait() = default;
    virtual ~TWait();
    TWait(const TWait&) = delete;
    TWait& operator=(const TWait&) = delete;

    // The number of seconds to count down from, as decimal text.
    virtual void SetCaption(const std::string& seconds) = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Returns when stopped or counted down, processing the application's events meanwhile.
    virtual void ShowModal() = 0;
    virtual bool Running() const = 0;

private:
    friend class TCustomWSocket;
    std::vector<TCustomWSocket*> users_; // same thread as the sockets, like the object itself
};

// The description of a transport error code ("Not a WinSock error" for unknown codes).
std::string ErrorText(int32_t code);
// Runs every socket event queued for the calling thread, of all its objects; never blocks.
// The argument is not used.
void PumpSocketMessages(TCustomWSocket* socket = nullptr);
// Starts the platform library once per process; a failure is always raised.
void StartSocketLibrary(const std::string& name);
int32_t LiveSocketCount();
bool LibraryStarted();

class TCustomWSocket : public QObject, private platform::SocketEventSink {
public:
    // Owner, when given, destroys the object and sets its destroying mark first.
    explicit TCustomWSocket(QObject* Owner = nullptr);
    // Cancels a pending lookup and closes; never lets an error escape.
    ~TCustomWSocket() override;
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    virtual void ResetToDefaults();
    virtual void BindLocalAny();
    virtual void ReportErrorFmt(const std::string& format, const std::vector<TFormatArg>& args);
    virtual void ReportError(const std::string& text);
    // The one place each event is raised: override to intercept it.
    virtual bool FireDataAvailable(uint16_t Error);
    virtual void FireSessionAvailable(uint16_t Error);
    virtual void FireSessionConnected(uint16_t Error);
    virtual void FireSessionClosed(uint16_t Error);
    virtual void FireDataSent(uint16_t Error);
    virtual void FireChangeState(TSocketState OldState, TSocketState NewState);
    virtual void FireDnsLookupDone(uint16_t Error);
    virtual void FireError();
    virtual void Connect();
    virtual void Close();
    virtual void Abort();
    // Sends what is queued; multithreaded: until drained or the handle is gone, without a limit.
    virtual void Flush();
    virtual void WaitUntilClosed();
    // 0 on success, -1 on failure.
    virtual int32_t Listen();
    // The accepted handle (owned by nobody until an object adopts it with Dup), or -1.
    virtual int32_t Accept();
    // Accept for taking every connection that waits: when none does, -1 with LastSocketError()
    // 10035 and no report. Other failures are reported as Accept reports them.
    int32_t AcceptNext();
    // Bytes read, 0 when the peer has closed, -1 on failure (code in LastError, not reported).
    virtual int32_t Receive(void* buffer, int32_t size);
    virtual int32_t ReceiveFrom(void* buffer, int32_t size, platform::SockAddrIn& from,
                                int32_t& fromLength);
    // Queues all of data and sends what the transport takes now; OnDataSent follows from the
    // event loop once the queue is drained. -1 when not connected, 0 for length <= 0.
    virtual int32_t Send(const void* data, int32_t length);
    virtual int32_t SendText(const std::string& text);
    virtual void DnsLookup(const std::string& host);
    virtual void CancelDnsLookup();
    // Dotted peer address, or "error".
    virtual std::string GetPeerAddress();
    virtual int32_t GetPeerName(platform::SockAddrIn& name, int32_t length);
    // Local port as decimal text, or "error".
    virtual std::string GetLocalPort();
    virtual bool TimeValueIsSet(const TTimeVal& value);
    virtual void ClearTimeValue(TTimeVal& value);
    virtual bool CompareTimeValues(const TTimeVal& a, const TTimeVal& b, bool equal);
    // Whether the object reached state s within Timeout seconds (at once when it is in it).
    virtual bool Wait(int32_t Timeout, TSocketState s);
    // Collects one line (at most 254 characters, without CR and LF) within Timeout seconds; text
    // gets what was collected so far also when the line is not complete.
    virtual void ReadLine(int32_t Timeout, std::string& text);
    virtual int32_t GetSockName(platform::SockAddrIn& name, int32_t& length);
    // Adopts a connected handle (from Accept, possibly on another thread).
    virtual void Dup(int32_t handle);
    // Dup for a handle that Accept returned: it is known to be a connected stream, so the
    // transport is not asked what it is.
    void DupConnected(int32_t handle);
    // The peer of the connection the last Accept returned.
    const platform::SockAddrIn& AcceptedPeer() const { return acceptedPeer_; }
    virtual void Shutdown(int32_t how);
    virtual void Pause();
    virtual void Resume();

    const std::string& Addr() const { return AddrText; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return PortText; }
    void SetPort(const std::string& value);
    const std::string& Proto() const { return ProtoText; }
    void SetProto(const std::string& value);
    const std::string& DnsResult() const { return dnsResult_; }
    const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    int32_t ReadCount() const { return readCount_; }
    // Bytes waiting in the transport, -1 (reported) on failure.
    int32_t RcvdCount();
    int32_t LastError() const { return lastError_; }
    bool MultiThreaded() const { return multiThreaded_; }
    // A multithreaded object's thread runs the socket layer's pumps and waits itself.
    void SetMultiThreaded(bool value);
    TWait* WaitCtrl() const { return waitCtrl_; }
    void SetWaitCtrl(TWait* value);
    int32_t FlushTimeout() const { return flushTimeout_; }
    void SetFlushTimeout(int32_t value) { flushTimeout_ = value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags value);
    // Off (the default), the peer's orderly close closes this object like a broken connection.
    // On, it only ends the input: a read notice comes in which Receive gives 0 (after the bytes
    // before it), the object stays connected and can still send its answer, and no read notice
    // follows; a broken connection still closes it. Linux cannot tell a peer that stopped sending
    // from one that went, so each user chooses. May be set before or after Dup; kept across
    // connections.
    void SetPeerCloseEndsInput(bool on);
    bool PeerCloseEndsInput() const { return peerCloseEndsInput_; }
    // The peer will send nothing more on this connection: a Receive gave 0, or the read notice of
    // the end came.
    bool PeerInputEnded() const;
    bool IsDestroying() const { return destroying_; }
    void MarkDestroying() { destroying_ = true; }

    // Transport options of a connected stream. Each is a no-op without a handle.
    // Cork on: partial segments wait until it goes off again, so that the pieces of one reply
    // leave as full segments.
    void SetCork(bool on);
    // No delay on: a small piece leaves at once instead of waiting for the last acknowledgement.
    void SetNoDelay(bool on);
    // A close after this drops what the peer has not taken and resets the connection.
    void SetResetOnClose();
    // Bytes handed to the object and not yet to the transport.
    size_t QueuedBytes() const;
    // Bytes the peer has not acknowledged yet: the object's queue plus the transport's.
    size_t UnsentBytes() const;

    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TSessionClosed OnSessionClosed;
    TChangeState OnChangeState;
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TNotifyEvent OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;

protected:
    static constexpr int32_t kBlockSize = 1514;
    static constexpr int32_t kMaxLine = 254;

    void ChangeState(TSocketState newState);
    void ReportSocketError(const std::string& label);
    void HandleSocketNotify(int32_t handle, int32_t events, uint16_t Error);
    void HandleLookupDone(platform::LookupRequest request, uint16_t Error,
                          const std::vector<uint32_t>& addresses);
    void QueueData(const void* data, int32_t length);
    void TryToSend();
    void ProcessReadable(uint16_t Error);
    void CollectLineBytes();
    void Disconnect(bool shut);
    void Adopt(int32_t handle, bool knownConnected);
    int32_t AcceptConnection(bool quietWhenNone);

    int32_t SocketHandle = platform::kInvalidHandle;
    bool PortAssigned = false;
    bool AddrAssigned = false;
    bool ProtoAssigned = false;
    std::string ProtoText;
    std::string AddrText;
    std::string PortText;
    uint32_t PortNumber = 0;
    int32_t ProtoNumber = 6;
    int32_t SocketType = platform::kStreamSocket;
    int32_t AddressFamily = platform::kAddressFamilyInet;
    int32_t AcceptedHandle = platform::kInvalidHandle;
    platform::SockAddrIn acceptedPeer_{};
    bool lastReadDrained_ = false;
    std::deque<std::unique_ptr<TBuffer>> SendQueue;
    int32_t BlockSize = kBlockSize;
    int32_t SendFlagsValue = 0;
    TSocketState WaitState = wsInvalidState;
    bool Paused = false;
    bool AllSent = true;
    std::string LineBuffer;
    int32_t LineLength = 0;
    bool ReadLineActive = false;
    bool CloseFired = false;
    // The lookup result travels with its completion: no buffer of the object is handed to the
    // resolver, so a late completion can never write into a destroyed object.
    platform::LookupRequest LookupHandle = 0;
    platform::SockAddrIn RemoteAddress;
    std::unique_ptr<platform::SocketEndpoint> NotifyWindow;

private:
    friend class TWait; // forgets itself in the sockets that refer to it
    void OnSocketNotify(int handle, int events, int error) override;
    void OnLookupDone(platform::LookupRequest request, int error,
                      const std::vector<uint32_t>& addresses) override;
    uint32_t ResolveAddress(const std::string& text);
    // Keeps the text of a new Proto, Port or Addr; true when the socket is closed and the value
    // differs from the one in force, so that the caller applies it.
    bool TakesSetting(bool assigned, std::string& text, const std::string& value, const char* name);
    void EnsureLibrary();
    void ReleaseHandle();
    void DiscardSendQueue();
    void StopWaitCtrl();
    bool PrepareDatagram();
    bool PrepareStream();
    void StartConnecting();
    int GatherUnsent(platform::SendPiece* pieces, int64_t& offered);
    int32_t SendDirect(const void* data, int32_t length);
    int SendPieces(const platform::SendPiece* pieces, int count);
    void OnSendFailed();
    void NoteRead(int result, int32_t size);
    int32_t CountRead(int result, int32_t size);

    std::string dnsResult_;
    std::vector<std::string> dnsResultList_;
    TSocketState state_ = wsClosed;
    int32_t flushTimeout_ = 60;
    bool multiThreaded_ = false;
    TWait* waitCtrl_ = nullptr;
    int32_t lastError_ = 0;
    int32_t readCount_ = 0;
    // Reads attempted so far: tells ProcessReadable whether a handler took anything.
    uint32_t readAttempts_ = 0;
    bool destroying_ = false;
    bool peerCloseEndsInput_ = false;
};

class TWSocket : public TCustomWSocket {
public:
    using TCustomWSocket::TCustomWSocket;
};
