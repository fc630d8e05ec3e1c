#include "net/WSocket.h"
#include "platform/ThreadPump.h"

#include <arpa/inet.h>

namespace {

using namespace platform;

constexpr int kConnectEvents =
    kEventRead | kEventWrite | kEventAccept | kEventConnect | kEventClose;
constexpr int kListenEvents = kEventRead | kEventWrite | kEventAccept | kEventClose;
constexpr int kAdoptEvents = kEventRead | kEventWrite | kEventConnect | kEventClose;
constexpr int32_t kAllBits = -1;

// Failures that end a connection attempt rather than refuse to start one; where the platform
// answers them at once they still arrive as the connect notification.
bool EndsAttempt(int code) {
    return code == sockerr::ConnectionRefused || code == sockerr::TimedOut ||
           code == sockerr::NetworkUnreachable || code == sockerr::HostUnreachable;
}

} // namespace

void TCustomWSocket::Connect() {
    if (SocketHandle != kInvalidHandle && State() != wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!PortAssigned) {
        ReportError("Connect: No Port Specified");
        return;
    }
    if (!AddrAssigned) {
        ReportError("Connect: No IP Address Specified");
        return;
    }
    if (!ProtoAssigned) {
        ReportError("Connect: No Protocol Specified");
        return;
    }
    SocketHandle = SocketCreate(AddressFamily, SocketType, ProtoNumber);
    if (SocketHandle < 0) {
        SocketHandle = kInvalidHandle;
        ReportSocketError("Connect (socket)");
        return;
    }
    ChangeState(wsOpened);
    if (!(SocketType == kDatagramSocket ? PrepareDatagram() : PrepareStream()))
        return;
    if (NotifyWindow->Select(SocketHandle, kConnectEvents) < 0) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    if (SocketType == kDatagramSocket) {
        ChangeState(wsConnected);
        FireSessionConnected(0);
        return;
    }
    StartConnecting();
}

bool TCustomWSocket::PrepareDatagram() {
    BindLocalAny();
    if (RemoteAddress.Addr == kAddressNone &&
        SocketSetFlag(SocketHandle, SocketFlag::Broadcast, 1) < 0) {
        ReportSocketError("setsockopt(SO_BROADCAST)");
        return false;
    }
    return true;
}

// Linger 0: closing drops unsent data and resets the connection.
bool TCustomWSocket::PrepareStream() {
    if (SocketSetLinger(SocketHandle, 1, 0) < 0) {
        ReportSocketError("setsockopt(SO_LINGER)");
        return false;
    }
    if (SocketSetFlag(SocketHandle, SocketFlag::KeepAlive, kAllBits) < 0) {
        ReportSocketError("setsockopt(SO_KEEPALIVE)");
        return false;
    }
    if (SocketSetFlag(SocketHandle, SocketFlag::ReuseAddress, kAllBits) < 0) {
        ReportSocketError("setsockopt(SO_REUSEADDR)");
        return false;
    }
    return true;
}

void TCustomWSocket::StartConnecting() {
    if (SocketConnect(SocketHandle, RemoteAddress) == 0 ||
        LastSocketError() == sockerr::WouldBlock) {
        NotifyWindow->ConnectStarted();
        ChangeState(wsConnecting);
        return;
    }
    const int code = LastSocketError();
    if (EndsAttempt(code)) {
        NotifyWindow->Post(SocketHandle, kEventConnect, code);
        ChangeState(wsConnecting);
        return;
    }
    lastError_ = code;
    ReportSocketError("Connect");
}

void TCustomWSocket::BindLocalAny() {
    SockAddrIn local{};
    if (SocketBind(SocketHandle, local) < 0) {
        ReportErrorFmt("winsock.bind failed, error #%d", {LastSocketError()});
        return;
    }
    int32_t length = sizeof local;
    if (SocketGetSockName(SocketHandle, &local, &length) < 0)
        ReportErrorFmt("winsock.getsockname failed, error #%d", {LastSocketError()});
}

int32_t TCustomWSocket::Listen() {
    const std::pair<bool, const char*> checks[] = {{PortAssigned, "listen: port not assigned"},
                                                   {ProtoAssigned, "listen: protocol not assigned"},
                                                   {AddrAssigned, "listen: address not assigned"}};
    for (const auto& [assigned, label] : checks) {
        if (!assigned) {
            SetLastSocketError(sockerr::InvalidArgument);
            ReportSocketError(label);
            return -1;
        }
    }
    SocketHandle = SocketCreate(AddressFamily, SocketType, ProtoNumber);
    if (SocketHandle < 0) {
        SocketHandle = kInvalidHandle;
        ReportSocketError("socket");
        return -1;
    }
    // Unlike the original platform, Linux refuses to bind a port that connections of an earlier
    // listener still hold in TIME_WAIT; a live listener on the port is still refused.
    if (SocketType == kStreamSocket)
        SocketSetFlag(SocketHandle, SocketFlag::ReuseAddress, 1);
    if (SocketBind(SocketHandle, RemoteAddress) < 0) {
        const int code = LastSocketError();
        SocketClose(SocketHandle);
        SocketHandle = kInvalidHandle;
        SetLastSocketError(code);
        ReportSocketError("Bind");
        return -1;
    }
    ChangeState(wsBound);
    if (SocketType == kDatagramSocket) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        FireSessionConnected(0);
    } else {
        // The largest backlog: with a handful, browsers opening several connections at once
        // overflow the queue and their attempts stall for a second or more.
        if (SocketListen(SocketHandle, SocketMaxBacklog()) < 0) {
            ReportSocketError("Listen");
            return -1;
        }
        ChangeState(wsListening);
    }
    if (NotifyWindow->Select(SocketHandle, kListenEvents) < 0) {
        ReportSocketError("WSAASyncSelect");
        return -1;
    }
    return 0;
}

int32_t TCustomWSocket::Accept() {
    return AcceptConnection(false);
}

int32_t TCustomWSocket::AcceptNext() {
    return AcceptConnection(true);
}

int32_t TCustomWSocket::AcceptConnection(bool quietWhenNone) {
    if (State() != wsListening) {
        SetLastSocketError(sockerr::InvalidArgument);
        ReportSocketError("not a listening socket");
        return -1;
    }
    acceptedPeer_ = SockAddrIn{};
    AcceptedHandle = SocketAccept(SocketHandle, &acceptedPeer_);
    NotifyWindow->AcceptDone();
    if (AcceptedHandle == kInvalidHandle) {
        if (!quietWhenNone || LastSocketError() != sockerr::WouldBlock)
            ReportSocketError("Accept");
        return -1;
    }
    return AcceptedHandle;
}

void TCustomWSocket::Dup(int32_t handle) {
    Adopt(handle, false);
}

void TCustomWSocket::DupConnected(int32_t handle) {
    Adopt(handle, true);
}

void TCustomWSocket::Adopt(int32_t handle, bool knownConnected) {
    if (handle == 0 || handle == kInvalidHandle) {
        SetLastSocketError(sockerr::InvalidArgument);
        ReportSocketError("Dup");
        return;
    }
    if (State() != wsClosed) {
        NotifyWindow->Forget();
        DiscardSendQueue();
        const int r = SocketHandle == kInvalidHandle ? 0 : SocketClose(SocketHandle);
        SocketHandle = kInvalidHandle;
        if (r < 0) {
            ReportSocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
    }
    SocketHandle = handle;
    if (knownConnected) {
        NotifyWindow->SelectConnected(SocketHandle, kAdoptEvents);
    } else if (NotifyWindow->Select(SocketHandle, kAdoptEvents) < 0) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    ChangeState(wsConnected);
}

void TCustomWSocket::Close() {
    Disconnect(true);
}

void TCustomWSocket::Abort() {
    Disconnect(false);
}

void TCustomWSocket::Disconnect(bool shut) {
    if (SocketHandle == kInvalidHandle) {
        if (State() != wsClosed) {
            ChangeState(wsClosed);
            ResetToDefaults();
        }
        return;
    }
    if (State() == wsClosed)
        return;
    if (shut)
        Shutdown(2);
    NotifyWindow->Forget();
    while (SocketClose(SocketHandle) < 0) {
        lastError_ = LastSocketError();
        if (lastError_ != sockerr::WouldBlock) {
            SocketHandle = kInvalidHandle;
            DiscardSendQueue();
            ReportSocketError("Disconnect (closesocket)");
            return;
        }
        if (MultiThreaded())
            PumpSocketMessages(this);
        else
            ProcessApplicationEvents();
    }
    SocketHandle = kInvalidHandle;
    DiscardSendQueue();
    ChangeState(wsClosed);
    if (!IsDestroying() && !CloseFired && OnSessionClosed) {
        CloseFired = true;
        FireSessionClosed(0);
    }
    ResetToDefaults();
}

void TCustomWSocket::Shutdown(int32_t how) {
    if (SocketHandle != kInvalidHandle)
        SocketShutdown(SocketHandle, how);
}

std::string TCustomWSocket::GetPeerAddress() {
    if (State() != wsConnected)
        return "error";
    SockAddrIn peer{};
    if (SocketGetPeerName(SocketHandle, &peer, sizeof peer) == 0)
        return DottedAddress(peer.Addr);
    ReportSocketError("GetPeerName");
    return "error";
}

int32_t TCustomWSocket::GetPeerName(SockAddrIn& name, int32_t length) {
    if (State() != wsConnected)
        return -1;
    return SocketGetPeerName(SocketHandle, &name, length);
}

int32_t TCustomWSocket::GetSockName(SockAddrIn& name, int32_t& length) {
    return SocketGetSockName(SocketHandle, &name, &length);
}

std::string TCustomWSocket::GetLocalPort() {
    const TSocketState s = State();
    if (s != wsBound && s != wsConnected && s != wsListening)
        return "error";
    SockAddrIn local{};
    int32_t length = sizeof local;
    if (GetSockName(local, length) != 0)
        return "error";
    return std::to_string(ntohs(local.Port));
}
