#include "net/WSocket.h"
#include "net/WSocketWait.h"
#include "platform/SocketQueue.h"

#include <algorithm>

namespace {

using namespace platform;

using wsocket::kWaitSliceMs;
using wsocket::ShownWait;

} // namespace

void TCustomWSocket::QueueData(const void* data, int32_t length) {
    if (length <= 0)
        return;
    if (SendQueue.empty())
        SendQueue.push_back(std::make_unique<TBuffer>(BlockSize));
    const char* p = static_cast<const char*>(data);
    for (;;) {
        const int32_t n = SendQueue.back()->Write(p, length);
        if (n >= length)
            return;
        p += n;
        length -= n;
        SendQueue.push_back(std::make_unique<TBuffer>(BlockSize));
    }
}

int32_t TCustomWSocket::Send(const void* data, int32_t length) {
    if (State() != wsConnected) {
        SetLastSocketError(sockerr::NotConnected);
        ReportSocketError("Send");
        return -1;
    }
    AllSent = false;
    int32_t result = 0;
    if (length > 0) {
        const int32_t taken = SendDirect(data, length);
        QueueData(static_cast<const char*>(data) + taken, length - taken);
        result = length;
    }
    TryToSend();
    // OnDataSent comes from the event loop, never from inside Send.
    if (AllSent && SocketHandle != kInvalidHandle)
        NotifyWindow->Post(SocketHandle, kEventWrite, 0);
    return result;
}

int32_t TCustomWSocket::SendText(const std::string& text) {
    return Send(text.data(), static_cast<int32_t>(text.size()));
}

// With nothing queued before them, a stream's bytes go to the transport straight from the
// caller's buffer; only what it does not take is queued. Saves copying every byte into blocks.
// Returns the bytes taken; 0 also on a failure, which the queued bytes then meet again in
// TryToSend and report from there.
int32_t TCustomWSocket::SendDirect(const void* data, int32_t length) {
    if (SocketType == kDatagramSocket || SocketHandle == kInvalidHandle)
        return 0;
    for (const auto& block : SendQueue) {
        int32_t n = 0;
        block->Peek(n);
        if (n > 0)
            return 0;
    }
    return std::max(SocketSend(SocketHandle, data, length, SendFlagsValue), 0);
}

// Hands the transport everything queued, in as few calls as it takes: a stream gets all blocks
// at once, a datagram socket one block per datagram. Returns when the queue is drained (AllSent)
// or the transport refused more; its write notification then resumes.
void TCustomWSocket::TryToSend() {
    if (SocketHandle == kInvalidHandle)
        return;
    // Nothing was ever queued: that is as drained as a queue can be.
    if (SendQueue.empty()) {
        AllSent = true;
        return;
    }
    for (;;) {
        SendPiece pieces[kMaxSendPieces];
        int64_t offered = 0;
        const int count = GatherUnsent(pieces, offered);
        if (count == 0) {
            AllSent = true;
            return;
        }
        const int r = SendPieces(pieces, count);
        if (r <= 0) {
            if (r < 0)
                OnSendFailed();
            return;
        }
        int32_t taken = r;
        for (auto it = SendQueue.begin(); it != SendQueue.end() && taken > 0; ++it)
            taken -= (*it)->Remove(taken);
        if (r < offered) {
            NotifyWindow->SendRefused(); // the transport is full: its write notification resumes
            return;
        }
    }
}

// Drops drained blocks (keeping the last one) and lists the unsent bytes, oldest first.
int TCustomWSocket::GatherUnsent(SendPiece* pieces, int64_t& offered) {
    int32_t n = 0;
    while (SendQueue.size() > 1 && (SendQueue.front()->Peek(n), n == 0))
        SendQueue.pop_front();
    const int limit = SocketType == kDatagramSocket ? 1 : kMaxSendPieces;
    int count = 0;
    offered = 0;
    for (auto it = SendQueue.begin(); it != SendQueue.end() && count < limit; ++it) {
        const char* p = (*it)->Peek(n);
        if (n > 0) {
            pieces[count++] = {p, n};
            offered += n;
        }
    }
    return count;
}

void TCustomWSocket::OnSendFailed() {
    const int code = LastSocketError();
    if (code == sockerr::ConnectionReset || code == sockerr::NotASocket ||
        code == sockerr::NotConnected || code == sockerr::InvalidArgument)
        Close();
    else if (code == sockerr::WouldBlock)
        NotifyWindow->SendRefused();
    else
        ReportSocketError("TryToSend failed");
}

int TCustomWSocket::SendPieces(const SendPiece* pieces, int count) {
    if (SocketType == kDatagramSocket)
        return SocketSendTo(SocketHandle, pieces[0].data, pieces[0].length, SendFlagsValue,
                            RemoteAddress);
    if (count == 1)
        return SocketSend(SocketHandle, pieces[0].data, pieces[0].length, SendFlagsValue);
    return SocketSendGather(SocketHandle, pieces, count, SendFlagsValue);
}

void TCustomWSocket::Flush() {
    if (MultiThreaded()) {
        while (SocketHandle != kInvalidHandle && !AllSent) {
            TryToSend();
            if (SocketHandle != kInvalidHandle && !AllSent)
                WaitThreadEvents(kWaitSliceMs);
        }
        return;
    }
    if (!WaitCtrl()) {
        ReportError("No wait object assigned");
        return;
    }
    const ShownWait shown(WaitCtrl(), FlushTimeout(), true);
    WaitCtrl()->Start();
    while (WaitCtrl() && WaitCtrl()->Running() && SocketHandle != kInvalidHandle && !AllSent) {
        TryToSend();
        WaitThreadEvents(kWaitSliceMs);
    }
}

size_t TCustomWSocket::QueuedBytes() const {
    size_t total = 0;
    for (const auto& buffer : SendQueue)
        total += static_cast<size_t>(buffer->WritePos() - buffer->ReadPos());
    return total;
}

size_t TCustomWSocket::UnsentBytes() const {
    const int inTransport =
        SocketHandle == kInvalidHandle ? 0 : platform::UnsentBytes(SocketHandle);
    return QueuedBytes() + static_cast<size_t>(std::max(inTransport, 0));
}
