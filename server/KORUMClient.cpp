#include "server/KORUMClient.h"

#include "config/HomeTool.h"
#include "config/KORUPlugin.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "net/WSocket.h"
#include "platform/FileCalls.h"
#include "platform/FilePath.h"
#include "platform/SocketEvents.h"
#include "platform/SocketQueue.h"
#include "server/Delivery.h"
#include "server/Reply.h"
#include "server/Request.h"
#include "server/Upload.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
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
};

namespace {

// Waits for this thread's next event, `ms` at most, then runs whatever else is pending; an
// arriving notification ends the wait at once.
void waitForEvents(int ms) {
    platform::WaitThreadEvents(ms);
}

std::string toBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

} // namespace

tPeerThread::tPeerThread(int handle, const QString& baseFile, const QString& basePath,
                         ServerContext& context)
    : context_(context), PeerHandle(handle), BaseFile(toBytes(baseFile)),
      BasePath(toBytes(basePath)) {
    FreeOnTerminate = true;
    IdleLimit = 1000 * static_cast<int64_t>(TrimToIntDef(context.settings.IdleSeconds, 40));
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

void tPeerThread::Execute() {
    try {
        Serve();
    } catch (...) {
        // A failed adoption or a socket error while waiting: close without a reply.
    }
    try {
        CloseConnection();
    } catch (...) {
    }
    if (PeersCounted)
        DecPeers();
    // The socket belongs to this thread: it must go before the thread ends.
    Socket.reset();
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
    Socket->Dup(PeerHandle);
    // A reply goes out in a few pieces with a wait after each; holding a piece back until the
    // previous one is acknowledged would only add the peer's acknowledgement delay.
    Socket->SetNoDelay(true);
    Received.clear();
    Connected = Socket->State() == wsConnected;
    IncPeers();
    ReplyPending = true;
    LastActivity = Tick();
    if (!Connected)
        return;
    platform::SockAddrIn peer;
    if (Socket->GetPeerName(peer, sizeof(peer)) == 0)
        PeerAddress = platform::DottedAddress(peer.Addr);
    ReceiveLoop();
}

void tPeerThread::ReceiveLoop() {
    do {
        waitForEvents(kPollMs);
        if (!RequestComplete)
            CheckRequest();
        // A peer that has stopped sending will never complete its request.
        if (!Finished && (IdleTooLong() || InputEnded))
            break;
    } while (!Finished && Connected && !Terminated());
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
    // Nothing counted yet still means a read is due: it re-arms the notification and reports
    // the end of the peer's input as 0 bytes.
    const int waiting = std::max(Socket->RcvdCount(), 1);
    if (RequestComplete)
        DropBytes(waiting);
    else if (!HeaderSeen)
        ReadHeaderBytes(waiting);
    else
        ReadBodyBytes(waiting);
}

// Only as much as the header may still grow is read: a peer that never sends the blank line
// costs at most the header limit, however fast it sends.
void tPeerThread::ReadHeaderBytes(int waiting) {
    const size_t room =
        request::kMaxHeaderBytes - std::min(Received.size(), request::kMaxHeaderBytes);
    if (room == 0)
        return; // the next look at the request refuses it as too large
    const size_t before = Received.size();
    Received.resize(before + std::min(static_cast<size_t>(waiting), room));
    const int n =
        Socket->Receive(Received.data() + before, static_cast<int>(Received.size() - before));
    Received.resize(before + static_cast<size_t>(std::max(n, 0)));
    NoteInputEnd(n);
    const size_t p = Received.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
    if (p != std::string::npos)
        HeaderArrived(p);
}

void tPeerThread::ReadBodyBytes(int waiting) {
    if (!StreamingBody) {
        // Bodies handed on as text (POST) stay in memory, within the declared-length limit.
        const size_t before = Received.size();
        Received.resize(before + static_cast<size_t>(std::min(waiting, kBodyReadSize)));
        const int n =
            Socket->Receive(Received.data() + before, static_cast<int>(Received.size() - before));
        Received.resize(before + static_cast<size_t>(std::max(n, 0)));
        NoteInputEnd(n);
        return;
    }
    ReadBuffer.resize(kBodyReadSize);
    const int n = Socket->Receive(ReadBuffer.data(), std::min(waiting, kBodyReadSize));
    NoteInputEnd(n);
    // Exactly the declared length is stored; bytes beyond it are dropped like any byte after a
    // whole request.
    const int64_t take = std::min<int64_t>(std::max(n, 0), BodyLeft);
    if (UploadBody)
        UploadBody->Write(ReadBuffer.data(), static_cast<size_t>(take));
    BodyLeft -= take;
}

// Bytes after a whole request are read and dropped, so that they never grow memory.
void tPeerThread::DropBytes(int waiting) {
    ReadBuffer.resize(kBodyReadSize);
    NoteInputEnd(Socket->Receive(ReadBuffer.data(), std::min(waiting, kBodyReadSize)));
}

void tPeerThread::NoteInputEnd(int received) {
    if (received == 0)
        InputEnded = true;
}

// A PUT that declares its length streams its body into the upload file from here on; every other
// request keeps collecting into Received as before.
void tPeerThread::HeaderArrived(size_t headerLength) {
    HeaderSeen = true;
    const std::string_view header(Received.data(), headerLength);
    const std::optional<std::string> line = request::RequestLine(header);
    const std::optional<std::string> target =
        line ? request::MethodTarget(*line, "PUT") : std::nullopt;
    if (!target)
        return;
    TransferEncoded = request::DeclaresTransferEncoding(header);
    // The same search as the completeness rule, over what has arrived so far.
    const std::optional<int64_t> length = request::DeclaredLength(Received);
    if ((!length && !TransferEncoded) || (length && *length > request::kMaxBodyBytes))
        return; // the blank line completes it, or it is refused as too large
    StreamingBody = true;
    // A body of unknown length is refused at once; nothing of it is stored.
    BodyLeft = TransferEncoded ? 0 : *length;
    RequestPath = *target == "/" ? BaseFile : *target;
    if (!TransferEncoded && !BasePath.empty() && !RequestPath.empty() &&
        !request::EscapesBase(RequestPath) && !request::HasControlBytes(RequestPath) &&
        !platform::IsRegularFile(FileName()))
        UploadBody = std::make_unique<upload::UploadFile>(FileName());
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
    PumpSocketMessages(Socket.get());
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

void tPeerThread::Dispatch(const std::string& header) {
    const std::optional<std::string> line = request::RequestLine(header);
    if (!line) {
        SendError(400, "You doesn't say anything! Try again");
        return;
    }
    LogRequest(*line);
    bool handled = HandleMethod(*line, "GET");
    if (!handled)
        handled = HandleMethod(*line, "POST");
    if (!handled)
        handled = HandleMethod(*line, "PUT");
    if (!handled) {
        if (ReplyPending)
            SendError(501, "Request not supported");
        return;
    }
    if (!FileFound && ReplyPending)
        SendError(404, "<h2>File not really found</h2>");
    else if (ReplyPending)
        SendFile();
}

bool tPeerThread::HandleMethod(const std::string& line, const char* method) {
    const std::optional<std::string> target = request::MethodTarget(line, method);
    if (!target)
        return false;
    RequestPath = *target;
    if (RequestPath == "/")
        RequestPath = BaseFile;
    const std::string_view name = method;
    if (name == "POST")
        RequestPath += "?" + Received.substr(std::min(BodyStart - 1, Received.size()));
    if (name == "PUT") {
        Upload();
        return false;
    }
    if (RequestPath.empty())
        return false;
    if (RequestPath.find('?') == std::string::npos) {
        FileFound = !BasePath.empty() && !request::EscapesBase(RequestPath) &&
                    platform::IsRegularFile(FileName());
        return true;
    }
    const request::PluginTarget plugin = request::SplitPluginTarget(RequestPath);
    return InvokePlugin(plugin.name, plugin.query);
}

std::string tPeerThread::FileName() const {
    std::string name = BasePath + RequestPath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
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

void tPeerThread::SendFile() {
    const platform::FileHandle file(platform::OpenFile(FileName().c_str(), O_RDONLY));
    // Other readers are welcome; a writer holding the file means it is not ready to be read.
    if (!file.valid() || !platform::LockSharedNow(file.get())) {
        SendError(404, "Unable to open this file for read");
        return;
    }
    // The table as the UI thread last published it: a change applies from the next request.
    const std::string type = context_.mime.Published()->Lookup(request::FileExtension(RequestPath));
    const int64_t size = platform::FileLength(file.get());
    const std::string head =
        reply::StatusLine(200) + reply::FileHeader(reply::DefaultContentType(type), size);
    if (!Connected)
        return;
    FileConnection connection(*this);
    delivery::SendFile(connection, head, file.get(), size, context_.afterChunkSent);
}

void tPeerThread::Upload() {
    const std::string name = FileName();
    if (BasePath.empty() || request::EscapesBase(RequestPath) ||
        request::HasControlBytes(RequestPath)) {
        SendCannotCreate();
        return;
    }
    if (TransferEncoded) {
        SendError(411, "Content-Length required");
        return;
    }
    if (platform::IsRegularFile(name) || (StreamingBody && !UploadBody)) {
        SendError(406, "File already exists");
        return;
    }
    if (!StreamingBody) {
        // No declared length: what arrived with the header is the body.
        const size_t from = std::min(BodyStart - 1, Received.size());
        UploadBody = std::make_unique<upload::UploadFile>(name);
        UploadBody->Write(Received.data() + from, Received.size() - from);
    }
    UploadDone(*UploadBody);
}

void tPeerThread::UploadDone(upload::UploadFile& file) {
    using Outcome = upload::UploadFile::Outcome;
    switch (file.Publish()) {
    case Outcome::Saved:
        SendError(200, "File saved");
        break;
    case Outcome::Exists:
        SendError(406, "File already exists");
        break;
    case Outcome::CannotCreate:
        SendCannotCreate();
        break;
    case Outcome::CannotWrite:
        SendError(500, "Cannot write such a file: " + reply::EscapeHtml(RequestPath));
        break;
    }
}

void tPeerThread::SendCannotCreate() {
    SendError(406, "Cannot create such a file: " + reply::EscapeHtml(RequestPath));
}

bool tPeerThread::InvokePlugin(const std::string& name, const std::string& query) {
    if (FindPlugin(name) < 0) {
        SendError(500, "Cannot create temporary file. CGI fail.");
        return false;
    }
    if (context_.beforePluginCall)
        context_.beforePluginCall();
    int32_t status = 200;
    std::string replyHeader;
    std::string body;
    const int result = RunPlugin(name, PeerAddress, Received, query, body, replyHeader, status);
    const std::string page = toBytes(context_.settings.PageHeader.get()) + body +
                             toBytes(context_.settings.PageFooter.get());
    if (result < 0) {
        SendError(405, "Cannot run plugin (" + reply::EscapeHtml(RequestPath) + ")");
        return false;
    }
    SendText(reply::PluginReply(status, replyHeader, page));
    ReplyPending = false;
    return true;
}

void tPeerThread::LogRequest(const std::string& line) {
    LogText = line;
    // The line is written on the UI thread, after every line queued before it; the worker does
    // not wait for the disk.
    Queue([&context = context_, peer = PeerAddress, text = request::EscapeControls(LogText)] {
        const ServerSettings& s = context.settings;
        if (!s.LogEnabled && !context.requestLogged)
            return;
        const QLocale locale = QLocale::system();
        const QString stamp = locale.toString(QDateTime::currentDateTime(),
                                              locale.dateFormat(QLocale::ShortFormat) + " " +
                                                  locale.timeFormat(QLocale::LongFormat));
        QByteArray bytes = stamp.toLocal8Bit();
        bytes += '\t';
        bytes += QByteArray::fromStdString(peer);
        bytes += '\t';
        bytes += QByteArray::fromStdString(text);
        if (context.requestLogged)
            context.requestLogged(bytes);
        if (s.LogEnabled)
            AppendToLog(s.LogFile, bytes);
    });
}

// The count is changed on the UI thread only, in the order the workers queue their changes, so it
// stays exact without the workers waiting for it.
void tPeerThread::IncPeers() {
    PeersCounted = true;
    Queue([&context = context_] {
        ++PeerCounter;
        if (context.showClients)
            context.showClients(PeerCounter);
    });
}

void tPeerThread::DecPeers() {
    Queue([&context = context_] {
        --PeerCounter;
        if (context.showClients)
            context.showClients(PeerCounter);
        if (context.peerEnded)
            context.peerEnded();
    });
}
