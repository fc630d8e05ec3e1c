#include "net/WSocket.h"
#include "net/WSocketWait.h"

#include <algorithm>

namespace {

using namespace platform;

using wsocket::kWaitSliceMs;
using wsocket::RemainingMs;
using wsocket::ShownWait;

} // namespace

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
