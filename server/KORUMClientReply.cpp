// The worker's replies: handing them to the socket, and waiting while the peer takes them.
#include "server/KORUMClient.h"

#include "config/MimeTable.h"
#include "net/WSocket.h"
#include "platform/ThreadPump.h"
#include "server/Delivery.h"
#include "server/Reply.h"
#include "server/Request.h"

#include <optional>

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
        platform::WaitThreadEvents(kSendPollMs);
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
        platform::WaitThreadEvents(1);
}

void tPeerThread::SendText(const std::string& text) {
    DataSent = false;
    if (!Connected)
        return;
    NoteReply(text, static_cast<int64_t>(text.size()));
    Socket->SendText(text);
    WaitDataSent();
}

void tPeerThread::SendError(int32_t code, const std::string& message) {
    SendText(reply::PageReply(code, message));
}

void tPeerThread::SendFile(const std::string& fileName, const std::string& typeName) {
    // The table as the UI thread last published it: a change applies from the next request.
    const delivery::FileReply opened = delivery::OpenForReply(
        fileName,
        [this, &typeName] {
            return context_.mime.Published()->Lookup(request::FileExtension(typeName));
        },
        Collector.Header());
    if (!opened.file.valid()) {
        SendError(opened.status, opened.message);
        return;
    }
    if (!Connected)
        return;
    FileConnection connection(*this);
    transfers::Entry progress =
        beginTransfer(transfers::Direction::Download, RequestPath, opened.size);
    NoteReply(opened.head, static_cast<int64_t>(opened.head.size()));
    const int64_t sent =
        delivery::SendFile(connection, opened.head, opened.file.get(), opened.start, opened.size,
                           [this, &progress](size_t bytes) {
                               progress.Add(static_cast<int64_t>(bytes));
                               if (context_.afterChunkSent)
                                   context_.afterChunkSent(bytes);
                           });
    ReplyBytes += sent;
}

// On the board only when large enough to be worth a progress bar; the window is told once.
transfers::Entry tPeerThread::beginTransfer(transfers::Direction direction, const std::string& name,
                                            int64_t total) {
    transfers::Entry entry = context_.transfers.Begin(direction, PeerAddress, name, total);
    if (entry)
        toUi_.Post([&context = context_] {
            if (context.transferBegan)
                context.transferBegan();
        });
    return entry;
}
