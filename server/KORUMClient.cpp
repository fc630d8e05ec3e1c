#include "server/KORUMClient.h"

#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "net/WSocket.h"
#include "platform/FileCalls.h"
#include "platform/FilePath.h"
#include "platform/SocketErrors.h"
#include "platform/SocketEvents.h"
#include "platform/Sockets.h"
#include "platform/ThreadPump.h"
#include "platform/WorkerPool.h"
#include "server/Delivery.h"
#include "server/ModuleCall.h"
#include "server/Reply.h"
#include "server/Request.h"
#include "server/RequestLog.h"
#include "server/Router.h"
#include "server/Upload.h"

#include <QElapsedTimer>
#include <QFile>

#include <QScopeGuard>

#include <chrono>
#include <fcntl.h>
#include <optional>
#include <semaphore>
#include <vector>

int32_t PeerCounter = 0;

// A file reply's way to the peer: what the transport does not take at once stays in the socket's
// queue, and the delivery waits only while that queue holds anything.
class tPeerThread::FileConnection : public delivery::Connection {
public:
    explicit FileConnection(tPeerThread& worker) : worker_(worker) {}

    bool Write(const char* data, size_t size) override {
        if (!worker_.Connected)
            return false;
        // A reply in several pieces: holding a piece back until the previous one is acknowledged
        // would only add the peer's acknowledgement delay. A reply in one piece never waits.
        if (writes_++ == 1)
            worker_.Socket->SetNoDelay(true);
        worker_.Socket->Send(data, static_cast<int32_t>(size));
        return worker_.Connected;
    }
    bool Drain() override {
        worker_.WaitSent([this] { return worker_.Socket->QueuedBytes() == 0; });
        return worker_.Connected && !worker_.Terminated();
    }
    void Close() override { worker_.Socket->Close(); }

private:
    tPeerThread& worker_;
    int writes_ = 0;
};

namespace {

// Waits for this thread's next event, `ms` at most, then runs whatever else is pending; an
// arriving notification ends the wait at once.
void waitForEvents(int ms) {
    platform::WaitThreadEvents(ms);
}

// A request whose body is held in memory (a POST's, up to 16 MiB) has that body copied once more,
// into its module's query, when it is dispatched. Only this many large ones take that step at a
// time, so that many at once never hold twice their bodies; the others wait their turn.
constexpr int kLargeBodySlots = 2;
constexpr size_t kLargeBodyBytes = 1024 * 1024;
std::counting_semaphore<kLargeBodySlots>& LargeBodySlots() {
    static std::counting_semaphore<kLargeBodySlots> free(kLargeBodySlots);
    return free;
}

std::string toBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

} // namespace

PeerSite::PeerSite(const QString& file, const QString& path, const QString& idle,
                   const QString& plugins)
    : sourceFile(file), sourcePath(path), sourceIdle(idle), sourcePlugins(plugins),
      baseFile(toBytes(file)), basePath(toBytes(path)),
      // The folder the scan looks in: the same trimming, "" for the current folder.
      pluginsFolder(toBytes(platform::ToFsPath(AddBackslash(plugins)))),
      // Milliseconds, 64 bits wide: no setting can overflow it.
      idleLimit(1000 * static_cast<int64_t>(TrimToIntDef(idle, 40))) {}

bool PeerSite::From(const QString& file, const QString& path, const QString& idle,
                    const QString& plugins) const {
    return file == sourceFile && path == sourcePath && idle == sourceIdle &&
           plugins == sourcePlugins;
}

tPeerThread::tPeerThread(int handle, std::string peerAddress, std::shared_ptr<const PeerSite> site,
                         ServerContext& context)
    : context_(context), toUi_(context.handOff.sender()), PeerHandle(handle),
      PeerAddress(std::move(peerAddress)), Site(std::move(site)), BaseFile(Site->baseFile),
      BasePath(Site->basePath), IdleLimit(Site->idleLimit) {
    FreeOnTerminate = true;
}

tPeerThread::~tPeerThread() = default;

int64_t tPeerThread::Tick() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.elapsed();
}

bool tPeerThread::IdleTooLong() const {
    return Tick() - LastActivity > IdleLimit;
}

bool tPeerThread::ReadyToRun() {
    // Anything but "nothing yet" lets it run: the request, the peer's end, or a broken connection.
    // What has arrived is taken here, where looking without taking would cost the same call. The
    // socket's own first read sees the end again; a reset taken here reads there as an end, which
    // closes the connection without a reply all the same.
    char chunk[kHeaderChunkSize];
    const int n = platform::SocketRecv(PeerHandle, chunk, static_cast<int>(sizeof chunk));
    if (n > 0) {
        Received.append(chunk, static_cast<size_t>(n));
        EarlyBytes = static_cast<size_t>(n);
        EarlyFull = n == static_cast<int>(sizeof chunk);
        return true;
    }
    return n == 0 || platform::LastSocketError() != platform::sockerr::WouldBlock;
}

void tPeerThread::Execute() {
    try {
        Serve();
    } catch (...) {
        // A failed adoption or a socket error while waiting: close without a reply.
    }
    promptWake_.reset();
    Phase_ = Phase::Closing;
    try {
        CloseConnection();
    } catch (...) {
    }
    // The socket belongs to this thread: it must go before the thread ends, whatever fails after.
    Socket.reset();
    try {
        if (PeersCounted)
            DecPeers();
    } catch (...) {
        // Out of memory: the count stays one too high rather than the socket outliving its thread.
    }
    Phase_ = Phase::Ended;
}

void tPeerThread::Serve() {
    Socket = std::make_unique<TWSocket>();
    Socket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { PeerDataAvailable(s, e); };
    Socket->OnDataSent = [this](TCustomWSocket* s, uint16_t e) { PeerDataSent(s, e); };
    Socket->OnChangeState = [this](TCustomWSocket* s, TSocketState o, TSocketState n) {
        PeerChangeState(s, static_cast<int>(o), static_cast<int>(n));
    };
    // Multithreaded first, so that even the adoption's first notice stays on this thread's list.
    Socket->SetMultiThreaded(true);
    // A client that shuts down its sending side after the request ("that is all") still waits
    // for the answer: its end is the end of the request's input, not of the connection.
    Socket->SetPeerCloseEndsInput(true);
    // The listener's accept made it: a connected stream, no need to ask the transport.
    Socket->DupConnected(PeerHandle);
    Connected = Socket->State() == wsConnected;
    IncPeers();
    ReplyPending = true;
    LastActivity = Tick();
    if (!Connected)
        return;
    ReceiveLoop();
}

void tPeerThread::ReceiveLoop() {
    // A client sends its request right after connecting, so it is usually there by the time the
    // worker runs: a read before the first wait saves the wait. Bytes taken before the socket was
    // set up are looked at first; a read follows when they filled their buffer.
    if (EarlyBytes > 0)
        LookForHeaderEnd(0);
    if (EarlyBytes == 0 || EarlyFull)
        PeerDataAvailable(Socket.get(), 0);
    for (;;) {
        if (!RequestComplete)
            CheckRequest();
        if (Finished || !Connected || Terminated())
            return;
        // A peer that has stopped sending will never complete its request.
        if (IdleTooLong() || InputEnded)
            return;
        // The client waits for its answer: its request is answered as soon as it is here.
        if (!promptWake_)
            promptWake_.emplace();
        waitForEvents(kPollMs);
    }
}

void tPeerThread::CheckRequest() {
    request::Completeness c;
    if (StreamingBody) {
        // The body went elsewhere: Received holds the header and its blank line only.
        if (BodyLeft > 0)
            return;
        c.state = request::Arrival::Complete;
        c.headerLength = Received.size() - 4;
        c.bodyStart = Received.size() + 1;
    } else {
        c = request::CheckComplete(Received);
    }
    if (c.state == request::Arrival::Incomplete)
        return;
    RequestComplete = true;
    Phase_ = Phase::Processing;
    promptWake_.reset();
    if (c.state == request::Arrival::TooLarge) {
        SendError(413, "Request too large");
        Finished = true;
        return;
    }
    BodyStart = c.bodyStart;
    try {
        ProcessRequest(Received.substr(0, c.headerLength));
    } catch (...) {
        // The request is over whatever went wrong inside; the connection is closed next.
    }
}

void tPeerThread::CloseConnection() {
    if (!Socket)
        return;
    if (Connected)
        Socket->Close();
    const int64_t start = Tick();
    while (Connected && !(Terminated() && Tick() - start > kPollMs))
        waitForEvents(kPollMs);
}

void tPeerThread::PeerDataAvailable(TCustomWSocket*, uint16_t) {
    LastActivity = Tick();
    if (RequestComplete)
        DropBytes();
    else if (!HeaderSeen)
        ReadHeaderBytes();
    else
        ReadBodyBytes();
}

// Every read is due, also one that finds nothing: it re-arms the notification, and it tells the
// end of the peer's input as 0 bytes.
int tPeerThread::Read(char* buffer, int size) {
    const int n = Socket->Receive(buffer, size);
    if (n == 0)
        InputEnded = true;
    return n;
}

// Only as much as the header may still grow is read: a peer that never sends the blank line
// costs at most the header limit, however fast it sends.
void tPeerThread::ReadHeaderBytes() {
    const size_t before = Received.size();
    // Through a small buffer on the stack, which the request's own buffer grows from: sizing that
    // one for the largest header first cost an allocation, and a clearing, of the whole size per
    // request. Reads go on while they fill the buffer, so that a read ends short and re-arms the
    // notification, like the single larger read did.
    char chunk[kHeaderChunkSize];
    for (;;) {
        const size_t room =
            request::kMaxHeaderBytes - std::min(Received.size(), request::kMaxHeaderBytes);
        if (room == 0)
            break; // the next look at the request refuses it as too large
        const int want = static_cast<int>(std::min(room, sizeof chunk));
        const int n = Read(chunk, want);
        if (n <= 0)
            break;
        Received.append(chunk, static_cast<size_t>(n));
        if (n < want || Received.size() - before >= kHeaderReadSize)
            break;
    }
    LookForHeaderEnd(before);
}

// After bytes were added to the header from `before` on.
void tPeerThread::LookForHeaderEnd(size_t before) {
    if (Received.size() == before)
        return;
    const size_t p = Received.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
    if (p != std::string::npos)
        HeaderArrived(p);
}

char* tPeerThread::BodyBuffer() {
    ReadBuffer.resize(kBodyReadSize);
    return ReadBuffer.data();
}

void tPeerThread::ReadBodyBytes() {
    const int n = Read(BodyBuffer(), kBodyReadSize);
    if (n <= 0)
        return;
    if (!StreamingBody) {
        // Bodies handed on as text (POST) stay in memory, within the declared-length limit.
        Received.append(ReadBuffer.data(), static_cast<size_t>(n));
        return;
    }
    // Exactly the declared length is stored; bytes beyond it are dropped like any byte after a
    // whole request.
    const int64_t take = std::min<int64_t>(n, BodyLeft);
    if (UploadBody)
        UploadBody->Write(ReadBuffer.data(), static_cast<size_t>(take));
    BodyLeft -= take;
}

// Bytes after a whole request are read and dropped, so that they never grow memory.
void tPeerThread::DropBytes() {
    // On the stack: most connections see only their end here, and a buffer of the body's size
    // for that cost an allocation and a clearing of it per request.
    // Reads go on while they fill it, as far as one body read would take.
    char sink[kHeaderChunkSize];
    for (size_t taken = 0; taken < static_cast<size_t>(kBodyReadSize); taken += sizeof sink)
        if (Read(sink, sizeof sink) < static_cast<int>(sizeof sink))
            break;
}

// A PUT that declares its length streams its body into the upload file from here on; every other
// request keeps collecting into Received as before.
void tPeerThread::HeaderArrived(size_t headerLength) {
    HeaderSeen = true;
    const std::string_view header(Received.data(), headerLength);
    const std::optional<std::string> line = request::RequestLine(header);
    const std::optional<int64_t> length = request::DeclaredLength(header);
    if (!line || !request::MethodTarget(*line, "PUT")) {
        // A body handed on as text grows its buffer once, not by doubling.
        if (length && *length <= request::kMaxHeldBodyBytes)
            Received.reserve(headerLength + 4 + static_cast<size_t>(*length));
        return;
    }
    const bool transferEncoded = request::DeclaresTransferEncoding(header);
    if ((!length && !transferEncoded) || (length && *length > request::kMaxBodyBytes))
        return; // the blank line completes it, or it is refused as too large
    StreamingBody = true;
    // A body of unknown length is refused at once; nothing of it is stored.
    BodyLeft = transferEncoded ? 0 : *length;
    const route::Decision decision = Route(header);
    if (decision.kind == route::Kind::Upload && UploadAllowed(decision.fileName))
        UploadBody = std::make_unique<upload::UploadFile>(
            decision.fileName, upload::UploadFile::Waiting::Unnamed, IdleLimit);
    const size_t bodyAt = headerLength + 4;
    const int64_t take =
        std::min<int64_t>(static_cast<int64_t>(Received.size() - bodyAt), BodyLeft);
    if (UploadBody)
        UploadBody->Write(Received.data() + bodyAt, static_cast<size_t>(take));
    BodyLeft -= take;
    Received.resize(bodyAt);
}

void tPeerThread::PeerDataSent(TCustomWSocket*, uint16_t) {
    DataSent = true;
}

void tPeerThread::PeerChangeState(TCustomWSocket*, int, int newState) {
    Connected = newState == wsConnected;
}

// The idle limit counts from the last progress: a peer that reads slowly gets its whole reply,
// one that stops reading loses its connection and frees the worker.
void tPeerThread::WaitDataSent() {
    WaitSent([this] { return DataSent; });
}

void tPeerThread::WaitSent(const std::function<bool()>& done) {
    const int64_t stallLimit = std::max<int64_t>(IdleLimit, kMinStallMs);
    int64_t lastProgress = Tick();
    int64_t nextLook = lastProgress + kProgressLookMs;
    // What the peer has not acknowledged yet only shrinks while it reads. Looked at only when a
    // wait did not end at once, and then a few times a second: a fast peer costs nothing extra.
    std::optional<size_t> unsent;
    // A notice already queued (usually the data-sent one) ends the first wait without blocking.
    while (!done() && Connected && !Terminated()) {
        if (unsent && Tick() >= nextLook) {
            const size_t now = Socket->UnsentBytes();
            nextLook = Tick() + kProgressLookMs;
            if (now < *unsent) {
                unsent = now;
                lastProgress = Tick();
            } else if (Tick() - lastProgress > stallLimit) {
                // Reset, so that the transport drops what the peer never took.
                Socket->SetResetOnClose();
                Socket->Abort();
                break;
            }
        }
        waitForEvents(kSendPollMs);
        if (!unsent && !done() && Connected) {
            unsent = Socket->UnsentBytes();
            lastProgress = Tick();
            nextLook = lastProgress + kProgressLookMs;
        }
    }
    // The one more pass after each piece: the transport is looked at every few pieces only.
    platform::PumpThreadEventsBriefly();
}

// The reply has been handed to the socket; closing now could lose what the kernel still holds,
// so wait until it has left (or the peer went), a bounded time. On a local network the last
// acknowledgement is usually there already.
void tPeerThread::WaitReplyGone() {
    const int64_t start = Tick();
    while (Connected && Socket->UnsentBytes() > 0 && Tick() - start < kSettleMs)
        waitForEvents(1);
}

void tPeerThread::ProcessRequest(const std::string& header) {
    try {
        Dispatch(header);
    } catch (...) {
        Finished = true;
        throw;
    }
    WaitReplyGone();
    Finished = true;
}

route::Decision tPeerThread::Route(std::string_view header) const {
    const size_t bodyAt =
        std::min(BodyStart == 0 ? Received.size() : BodyStart - 1, Received.size());
    return route::Decide({header, std::string_view(Received).substr(bodyAt), BaseFile, BasePath});
}

void tPeerThread::Dispatch(const std::string& header) {
    const bool largeBody = BodyStart > 0 && Received.size() > BodyStart - 1 + kLargeBodyBytes;
    if (largeBody) {
        const platform::BlockingScope waiting;
        while (!LargeBodySlots().try_acquire_for(std::chrono::milliseconds(kPollMs)))
            if (Terminated() || !Connected)
                return;
    }
    const auto releaseSlot = qScopeGuard([largeBody] {
        if (largeBody)
            LargeBodySlots().release();
    });
    route::Decision decision = Route(header);
    if (decision.logLine)
        LogRequest(*decision.logLine);
    RequestPath = decision.requestPath;
    switch (decision.kind) {
    case route::Kind::Error:
        SendError(decision.status, decision.message);
        break;
    case route::Kind::File:
        SendFile(decision.fileName);
        break;
    case route::Kind::Upload:
        Upload(decision.fileName);
        break;
    case route::Kind::Module:
        CallModule(std::move(decision));
        break;
    }
}

void tPeerThread::SendText(const std::string& text) {
    DataSent = false;
    if (!Connected)
        return;
    Socket->SendText(text);
    WaitDataSent();
}

void tPeerThread::SendError(int32_t code, const std::string& message) {
    SendText(reply::PageReply(code, message));
    ReplyPending = false;
}

void tPeerThread::SendFile(const std::string& fileName) {
    // Not blocking: a pipe put in the base folder must not hold the worker at its open.
    const platform::FileHandle file(platform::OpenFile(fileName.c_str(), O_RDONLY | O_NONBLOCK));
    const int64_t size = file.valid() ? platform::RegularFileSize(file.get()).value_or(-1) : -1;
    FileFound = file.valid() ? size >= 0 : platform::IsRegularFile(fileName);
    if (!FileFound) {
        SendError(404, "<h2>File not really found</h2>");
        return;
    }
    // Other readers are welcome; a writer holding the file means it is not ready to be read.
    if (size < 0 || !platform::LockSharedNow(file.get())) {
        SendError(404, "Unable to open this file for read");
        return;
    }
    // The table as the UI thread last published it: a change applies from the next request.
    const std::string type = context_.mime.Published()->Lookup(request::FileExtension(RequestPath));
    const std::string head =
        reply::StatusLine(200) + reply::FileHeader(reply::DefaultContentType(type), size);
    if (!Connected)
        return;
    FileConnection connection(*this);
    ReplyPending = false;
    delivery::SendFile(connection, head, file.get(), size, context_.afterChunkSent);
}

// Neither an existing file nor the plug-ins folder receives an upload: a file put there would be
// loaded, and run as the owner, at the next start.
bool tPeerThread::UploadAllowed(const std::string& fileName) const {
    return !platform::IsRegularFile(fileName) &&
           !upload::InsideFolder(fileName, Site->pluginsFolder);
}

void tPeerThread::Upload(const std::string& fileName) {
    // Every upload the router lets through declares its length, so its body streamed into
    // UploadBody from the header on; none was opened for a name that cannot take one.
    if (upload::InsideFolder(fileName, Site->pluginsFolder)) {
        const upload::Answer answer = upload::CannotCreate(RequestPath);
        SendError(answer.status, answer.message);
        return;
    }
    if (!UploadBody || platform::IsRegularFile(fileName)) {
        SendError(406, "File already exists");
        return;
    }
    const upload::Answer answer = upload::AnswerFor(UploadBody->Publish(), RequestPath);
    SendError(answer.status, answer.message);
}

void tPeerThread::CallModule(route::Decision decision) {
    const ServerSettings& settings = context_.settings;
    modulecall::Call call{std::move(decision.module),
                          std::move(decision.query),
                          PeerAddress,
                          Received,
                          RequestPath,
                          [&settings] { return toBytes(settings.PageHeader.get()); },
                          [&settings] { return toBytes(settings.PageFooter.get()); }};
    SendText(
        modulecall::Reply(modulecall::LoadedModules(), std::move(call), context_.beforePluginCall));
    ReplyPending = false;
}

void tPeerThread::LogRequest(const std::string& line) {
    // The line is written on the UI thread, after every line queued before it; the worker does
    // not wait for the disk.
    toUi_.Post([&context = context_, peer = PeerAddress, text = request::EscapeControls(line)] {
        requestlog::Write(context, peer, text);
    });
}

// The count is changed on the UI thread only, in the order the workers queue their changes, so it
// stays exact without the workers waiting for it.
void tPeerThread::IncPeers() {
    PeersCounted = true;
    toUi_.Post([&context = context_] {
        ++PeerCounter;
        if (context.showClients)
            context.showClients(PeerCounter);
    });
}

void tPeerThread::DecPeers() {
    toUi_.Post([&context = context_] {
        --PeerCounter;
        if (context.showClients)
            context.showClients(PeerCounter);
        if (context.peerEnded)
            context.peerEnded();
    });
}
