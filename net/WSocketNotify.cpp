#include "net/WSocket.h"
#include "net/WSocketWait.h"

#include <algorithm>

namespace {

using namespace platform;

constexpr int kResumeEvents = kEventRead | kEventWrite | kEventConnect | kEventClose;
using wsocket::kWaitSliceMs;
using wsocket::RemainingMs;

} // namespace

void PumpSocketMessages(TCustomWSocket* /*socket*/) {
    PumpThreadEvents();
}

void TCustomWSocket::OnSocketNotify(int handle, int events, int error) {
    HandleSocketNotify(handle, events, static_cast<uint16_t>(error));
}

// Runs the steps of one notification in their fixed order, reading the state afresh after every
// handler, since handlers may read, accept or close.
void TCustomWSocket::HandleSocketNotify(int32_t handle, int32_t events, uint16_t Error) {
    if (handle != SocketHandle || handle == kInvalidHandle || Paused)
        return;
    if (events & kEventConnect) {
        ChangeState(wsConnected);
        FireSessionConnected(Error);
        if (Error != 0 && State() != wsClosed)
            Close();
    }
    if (events & kEventRead)
        ProcessReadable(Error);
    if (events & kEventWrite) {
        TryToSend();
        if (AllSent && OnDataSent)
            FireDataSent(Error);
    }
    if (events & kEventAccept)
        FireSessionAvailable(Error);
    if ((events & kEventClose) && State() != wsConnecting) {
        ProcessReadable(Error);
        if (ReadLineActive) {
            ReadLineActive = false;
            StopWaitCtrl();
        }
        if (OnSessionClosed && !CloseFired) {
            CloseFired = true;
            FireSessionClosed(Error);
        }
        if (State() != wsClosed)
            Close();
    }
}

bool TCustomWSocket::Wait(int32_t Timeout, TSocketState s) {
    if (State() == s)
        return true;
    WaitState = s;
    struct Clear {
        TSocketState& state;
        ~Clear() { state = wsInvalidState; }
    } const clear{WaitState};
    if (MultiThreaded()) {
        const uint32_t deadline = TickCount() + static_cast<uint32_t>(Timeout) * 1000u;
        while (State() != s && RemainingMs(deadline) > 0)
            WaitThreadEvents(std::min(RemainingMs(deadline), kWaitSliceMs));
    } else if (!WaitCtrl()) {
        SetLastSocketError(sockerr::NoData);
        ReportSocketError("TWSocket.Wait");
        return false;
    } else {
        WaitCtrl()->SetCaption(std::to_string(Timeout));
        WaitCtrl()->Show();
        WaitCtrl()->ShowModal();
        if (WaitCtrl())
            WaitCtrl()->Hide();
    }
    return State() == s;
}

void TCustomWSocket::Pause() {
    Paused = true;
    NotifyWindow->Select(SocketHandle, 0);
}

void TCustomWSocket::Resume() {
    Paused = false;
    // A listening socket resumes accepting too: connections waited in the backlog meanwhile.
    const int accept = State() == wsListening ? kEventAccept : 0;
    NotifyWindow->Select(SocketHandle, kResumeEvents | accept);
}
