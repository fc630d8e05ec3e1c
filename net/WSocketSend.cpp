#include "net/WSocket.h"
#include "net/WSocketWait.h"
#include "platform/SocketQueue.h"

#include <algorithm>

namespace {

using namespace platform;

using wsocket::kWaitSliceMs;
using wsocket::RemainingMs;

// Shows the wait object for a wait and hides it (stopping it first, for Flush) however the wait
// ends.
class ShownWait {
public:
    ShownWait(TWait* wait, int32_t seconds, bool stopAtEnd) : wait_(wait), stopAtEnd_(stopAtEnd) {
        wait_->SetCaption(std::to_string(seconds));
        wait_->Show();
    }
    ~ShownWait() {
        if (stopAtEnd_)
            wait_->Stop();
        wait_->Hide();
    }
    ShownWait(const ShownWait&) = delete;
    ShownWait& operator=(const ShownWait&) = delete;

private:
    TWait* wait_;
    bool stopAtEnd_;
};

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

// A stream's read of 0 bytes into room for some is the peer's end of input.
void TCustomWSocket::NoteRead(int result, int32_t size) {
    ++readAttempts_;
    if (result == 0 && size > 0 && SocketType == kStreamSocket)
        NotifyWindow->ReadEnd();
    else
        NotifyWindow->ReadDone();
}

int32_t TCustomWSocket::Receive(void* buffer, int32_t size) {
    return CountRead(SocketRecv(SocketHandle, buffer, size), size);
}

int32_t TCustomWSocket::ReceiveFrom(void* buffer, int32_t size, SockAddrIn& from,
                                    int32_t& fromLength) {
    return CountRead(SocketRecvFrom(SocketHandle, buffer, size, &from, &fromLength), size);
}

// What every read does with its result: the notice rules learn of it, a failure keeps its code,
// and the bytes count.
int32_t TCustomWSocket::CountRead(int result, int32_t size) {
    NoteRead(result, size);
    // A stream read that got less than it asked for emptied the transport's queue.
    lastReadDrained_ = SocketType == kStreamSocket && result >= 0 && result < size;
    if (result < 0)
        lastError_ = LastSocketError();
    else
        readCount_ += result;
    return result;
}

int32_t TCustomWSocket::RcvdCount() {
    int count = 0;
    if (SocketPendingBytes(SocketHandle, &count) < 0) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return count;
}

// Hands everything pending to the application in this one notification. A handler that takes
// nothing ends the delivery instead of being called again forever; the bytes stay pending.
void TCustomWSocket::ProcessReadable(uint16_t Error) {
    try {
        for (;;) {
            lastError_ = 0;
            const uint32_t attempts = readAttempts_;
            if (ReadLineActive)
                CollectLineBytes();
            else if (!FireDataAvailable(Error))
                return;
            if (lastError_ != 0 || readAttempts_ == attempts || lastReadDrained_)
                return;
            int count = 0;
            if (SocketPendingBytes(SocketHandle, &count) < 0) {
                lastError_ = LastSocketError();
                return;
            }
            if (count == 0)
                return;
        }
    } catch (...) {
        // A handler's failure ends this delivery and goes no further: the event loop is no place
        // for it, and the next notification starts afresh.
    }
}

void TCustomWSocket::ReadLine(int32_t Timeout, std::string& text) {
    if (!MultiThreaded() && !WaitCtrl()) {
        ReportError("No wait object assigned");
        return;
    }
    if (!ReadLineActive) {
        LineBuffer.clear();
        LineLength = 0;
        ReadLineActive = true;
    }
    CollectLineBytes();
    if (ReadLineActive) {
        if (MultiThreaded()) {
            const uint32_t deadline = TickCount() + static_cast<uint32_t>(Timeout) * 1000u;
            while (ReadLineActive && RemainingMs(deadline) > 0)
                WaitThreadEvents(std::min(RemainingMs(deadline), kWaitSliceMs));
        } else {
            const ShownWait shown(WaitCtrl(), Timeout, false);
            WaitCtrl()->ShowModal();
        }
    }
    text = LineBuffer;
}

void TCustomWSocket::CollectLineBytes() {
    for (;;) {
        if (SocketHandle == kInvalidHandle) {
            ReadLineActive = false;
            StopWaitCtrl();
            return;
        }
        if (State() != wsConnected)
            return;
        int count = 0;
        if (SocketPendingBytes(SocketHandle, &count) < 0) {
            ReadLineActive = false;
            ReportSocketError("ioctlSocket");
            return;
        }
        if (count < 1)
            return;
        char c = 0;
        const int r = SocketRecv(SocketHandle, &c, 1);
        ++readAttempts_;
        NotifyWindow->ReadDone();
        if (r == 1) {
            ++readCount_;
            bool lineEnd = c == '\n';
            if (c != '\r' && c != '\n') {
                LineBuffer += c;
                ++LineLength;
            }
            if (LineLength >= kMaxLine) {
                lineEnd = true;
                if (OnLineTooLong)
                    OnLineTooLong(this);
            }
            if (lineEnd) {
                ReadLineActive = false;
                StopWaitCtrl();
                return;
            }
            continue;
        }
        const int code = LastSocketError();
        if (r == 0 || code == sockerr::ConnectionReset) {
            ReadLineActive = false;
            StopWaitCtrl();
            Close();
            return;
        }
        if (code != sockerr::WouldBlock) {
            ReportSocketError("ReadLine");
            return;
        }
    }
}

void TCustomWSocket::WaitUntilClosed() {
    while (SocketHandle != kInvalidHandle && State() != wsClosed) {
        ProcessApplicationEvents();
        int count = 0;
        if (SocketPendingBytes(SocketHandle, &count) < 0)
            return;
        if (count > 0) {
            if (ReadLineActive)
                CollectLineBytes();
            else
                FireDataAvailable(0);
        }
        // The probe looks at the connection without taking anything: data or "would block"
        // mean it is still open.
        const int probe = SocketPeek(SocketHandle);
        if (probe <= 0) {
            lastError_ = probe == 0 ? 0 : LastSocketError();
            if (lastError_ != sockerr::WouldBlock)
                return;
        }
        WaitThreadEvents(kWaitSliceMs);
    }
}

void TCustomWSocket::SetCork(bool on) {
    if (SocketHandle != kInvalidHandle)
        SocketSetFlag(SocketHandle, SocketFlag::Cork, on ? 1 : 0);
}

void TCustomWSocket::SetNoDelay(bool on) {
    if (SocketHandle != kInvalidHandle)
        SocketSetFlag(SocketHandle, SocketFlag::NoDelay, on ? 1 : 0);
}

void TCustomWSocket::SetResetOnClose() {
    if (SocketHandle != kInvalidHandle)
        SocketSetLinger(SocketHandle, 1, 0);
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
