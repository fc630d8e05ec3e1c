#include "net/WSocket.h"

using namespace platform;

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
