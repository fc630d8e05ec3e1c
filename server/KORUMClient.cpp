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
#include "server/Admission.h"
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

#include <atomic>

#include <chrono>
#include <fcntl.h>
#include <optional>
#include <semaphore>
#include <vector>

int32_t PeerCounter = 0;

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

PeerSite::PeerSite(Sources from)
    : sources(std::move(from)), baseFile(toBytes(sources.baseFile)),
      basePath(toBytes(sources.basePath)),
      baseFolder(toBytes(platform::ToFsPath(sources.basePath))),
      // The folder the scan looks in: the same trimming, "" for the current folder.
      pluginsFolder(toBytes(platform::ToFsPath(AddBackslash(sources.pluginsPath)))),
      logFile(toBytes(platform::ToFsPath(sources.logFile))),
      uploadFolder(toBytes(platform::ToFsPath(AddBackslash(sources.uploadPath)))),
      // Milliseconds, 64 bits wide: no setting can overflow it.
      idleLimit(1000 * static_cast<int64_t>(TrimToIntDef(sources.idleSeconds, 40))) {}

tPeerThread::tPeerThread(int handle, std::string peerAddress, std::shared_ptr<const PeerSite> site,
                         ServerContext& context)
    : context_(context), toUi_(context.handOff.sender()), PeerHandle(handle),
      PeerAddress(std::move(peerAddress)), Site(std::move(site)), BaseFile(Site->baseFile),
      BasePath(Site->basePath), IdleLimit(Site->idleLimit),
      Collector(
          BaseFile, BasePath, [this](route::Decision& decision) { return StartUpload(decision); },
          [this](std::string_view header) {
              return admission::AtHeader(Site->sources.reach, Site->sources.uploads, PeerAddress,
                                         context_.homePeer, header);
          }) {
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
        // Into the request's own buffer at once: the collector holds no socket, so it may take
        // them on whichever thread looks.
        Collector.Feed(chunk, static_cast<size_t>(n));
        EarlyBytes = true;
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
    LastActivity = Tick();
    if (!Connected)
        return;
    Collect();
    Dispatch();
}

// Collecting: until the request is whole or too large, the peer stops sending, or the idle limit
// passes.
void tPeerThread::Collect() {
    if (Phase_ != Phase::Collecting)
        return;
    // A client sends its request right after connecting, so it is usually there by the time the
    // worker runs: a read before the first wait saves the wait. Bytes taken before the socket was
    // set up are in the collector already; a read follows when they filled their buffer.
    if (!EarlyBytes || EarlyFull)
        PeerDataAvailable(Socket.get(), 0);
    for (;;) {
        if (Collector.state() != request::RequestCollector::State::Incomplete) {
            Phase_ = Phase::Dispatching;
            return;
        }
        // A peer that has stopped sending will never complete its request.
        if (!Connected || Terminated() || IdleTooLong() || InputEnded)
            return;
        // The client waits for its answer: its request is answered as soon as it is here.
        if (!promptWake_)
            promptWake_.emplace();
        waitForEvents(kPollMs);
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
    if (Phase_ != Phase::Collecting)
        DropBytes();
    else if (!Collector.HeaderSeen())
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

// Only as much as the header may still grow is read.
void tPeerThread::ReadHeaderBytes() {
    // Through a small buffer on the stack, which the request's own buffer grows from: sizing that
    // one for the largest header first cost an allocation, and a clearing, of the whole size per
    // request. Reads go on while they fill the buffer, so that a read ends short and re-arms the
    // notification, like the single larger read did.
    char chunk[kHeaderChunkSize];
    size_t taken = 0;
    while (!Collector.HeaderSeen() &&
           Collector.state() == request::RequestCollector::State::Incomplete) {
        const size_t room = Collector.Want(0);
        if (room == 0)
            break; // the next look at the request refuses it as too large
        const int want = static_cast<int>(std::min(room, sizeof chunk));
        const int n = Read(chunk, want);
        if (n <= 0)
            break;
        Collector.Feed(chunk, static_cast<size_t>(n));
        taken += static_cast<size_t>(n);
        if (n < want || taken >= kHeaderReadSize)
            break;
    }
}

void tPeerThread::ReadBodyBytes() {
    ReadBuffer.resize(kBodyReadSize);
    const int n = Read(ReadBuffer.data(), kBodyReadSize);
    if (n > 0)
        Collector.Feed(ReadBuffer.data(), static_cast<size_t>(n));
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

void tPeerThread::PeerDataSent(TCustomWSocket*, uint16_t) {
    DataSent = true;
}

void tPeerThread::PeerChangeState(TCustomWSocket*, int, int newState) {
    Connected = newState == wsConnected;
}

// Dispatching: the request is whole (or too large), answered once, then left to the close.
void tPeerThread::Dispatch() {
    if (Phase_ != Phase::Dispatching)
        return;
    promptWake_.reset();
    try {
        if (Collector.state() == request::RequestCollector::State::TooLarge)
            SendError(413, "Request too large");
        else
            Answer();
    } catch (...) {
        // The request is over whatever went wrong inside; the connection is closed next.
        ReportAnswer();
        return;
    }
    WaitReplyGone();
    ReportAnswer();
}

void tPeerThread::Answer() {
    const size_t bodyStart = Collector.BodyStart();
    const bool largeBody = Collector.Received().size() > bodyStart - 1 + kLargeBodyBytes;
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
    route::Decision& decision = Collector.Decision();
    if (decision.logLine)
        LogRequest(*decision.logLine);
    RequestPath = decision.requestPath;
    switch (decision.kind) {
    case route::Kind::Error:
        SendError(decision.status, decision.message);
        break;
    case route::Kind::File:
        if (!ServeFromBase(decision))
            SendError(404, "<h2>File not really found</h2>");
        break;
    case route::Kind::Upload:
        Upload(decision.fileName);
        break;
    case route::Kind::Module:
        CallModule(std::move(decision));
        break;
    }
}

void tPeerThread::CallModule(route::Decision decision) {
    // A link passed on with a query added to it still reaches its file; a module of the name
    // always comes first.
    if (decision.fileFallback && !modulecall::LoadedModules().Has(decision.module) &&
        ServeFromBase(decision))
        return;
    const ServerSettings& settings = context_.settings;
    modulecall::Call call{std::move(decision.module),
                          std::move(decision.query),
                          PeerAddress,
                          Collector.Received(),
                          RequestPath,
                          [&settings] { return toBytes(settings.PageHeader.get()); },
                          [&settings] { return toBytes(settings.PageFooter.get()); }};
    SendText(
        modulecall::Reply(modulecall::LoadedModules(), std::move(call), context_.beforePluginCall));
}

void tPeerThread::LogRequest(const std::string& line) {
    static std::atomic<uint64_t> lastNumber{0};
    RequestNumber = lastNumber.fetch_add(1, std::memory_order_relaxed) + 1;
    // The line is written on the UI thread, after every line queued before it; the worker does
    // not wait for the disk.
    toUi_.Post(
        [&context = context_, number = RequestNumber, peer = PeerAddress,
         text = request::EscapeControls(line)] { requestlog::Write(context, number, peer, text); });
}

// A reply is handed over in one piece or as a head and a file: the head says the status.
void tPeerThread::NoteReply(std::string_view head, int64_t bytes) {
    if (ReplyStatus == 0)
        ReplyStatus = reply::StatusOf(head);
    ReplyBytes += bytes;
}

void tPeerThread::ReportAnswer() {
    if (RequestNumber == 0)
        return;
    toUi_.Post(
        [&context = context_, number = RequestNumber, status = ReplyStatus, bytes = ReplyBytes] {
            if (context.requestAnswered)
                context.requestAnswered(number, status, bytes);
        });
    RequestNumber = 0;
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
