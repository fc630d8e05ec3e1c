#pragma once

#include "platform/SocketErrors.h"

#include <cstdint>
#include <string>
#include <vector>

// Thin BSD-socket engine for the socket layer: IPv4 only, every handle non-blocking and
// close-on-exec, every call retried on EINTR, sends never raise SIGPIPE. Failures return -1 and
// leave a code of the layer's numbering (10000s for the transport, 11001-11004 for the resolver)
// in a per-thread "last error", because the socket object reports those codes and their texts.
namespace platform {

constexpr int kInvalidHandle = -1;
constexpr int kAddressFamilyInet = 2;
constexpr int kStreamSocket = 1;
constexpr int kDatagramSocket = 2;
constexpr uint32_t kAddressNone = 0xFFFFFFFFu;
// Send flag of the layer's numbering for out-of-band data.
constexpr int kSendOutOfBand = 1;

// The 16-byte IPv4 socket address record, fields in network order except the family.
struct SockAddrIn {
    uint16_t Family = kAddressFamilyInet;
    uint16_t Port = 0;
    uint32_t Addr = 0;
    uint8_t Zero[8] = {};
};
static_assert(sizeof(SockAddrIn) == 16, "the address record is exchanged as 16 bytes");

int LastSocketError();
void SetLastSocketError(int code);
int ResolverToSocketError(int gaiCode);

// Nothing has to be started on this platform; kept so that the layer's reference-counted start-up
// and clean-up keep one place to call.
int StartupSocketLibrary();
void CleanupSocketLibrary();

int SocketCreate(int family, int type, int protocol);
int SocketBind(int handle, const SockAddrIn& address);
int SocketListen(int handle, int backlog);
int SocketMaxBacklog();
// Returns the new handle (non-blocking, close-on-exec) or -1; fills peer when given.
int SocketAccept(int handle, SockAddrIn* peer);
int SocketConnect(int handle, const SockAddrIn& address);
int SocketSend(int handle, const void* data, int length, int flags);
int SocketSendTo(int handle, const void* data, int length, int flags, const SockAddrIn& to);
// Hands several pieces to a stream in one call, in order; returns the bytes taken or -1.
struct SendPiece {
    const void* data;
    int length;
};
constexpr int kMaxSendPieces = 64;
int SocketSendGather(int handle, const SendPiece* pieces, int count, int flags);
int SocketRecv(int handle, void* buffer, int size);
int SocketRecvFrom(int handle, void* buffer, int size, SockAddrIn* from, int* fromLength);
// Looks at the next byte without taking it: 1 data waiting, 0 the peer has closed, -1 otherwise.
int SocketPeek(int handle);
int SocketShutdown(int handle, int how);
int SocketClose(int handle);
int SocketPendingBytes(int handle, int* count);
int SocketGetPeerName(int handle, void* record, int length);
int SocketGetSockName(int handle, void* record, int* length);

// Cork: while on, a stream holds back partial segments, so that pieces sent one after another
// leave as full segments; turning it off sends what is held.
enum class SocketFlag { KeepAlive, ReuseAddress, Broadcast, NoDelay, Cork };
int SocketSetFlag(int handle, SocketFlag flag, int32_t value);
// The linger record as two 16-bit values: on/off and seconds.
int SocketSetLinger(int handle, uint16_t onOff, uint16_t seconds);

// Protocol and service databases. Both refuse names longer than kMaxDatabaseName.
constexpr std::size_t kMaxDatabaseName = 31;
bool LookupProtocol(const std::string& name, int* number);
// proto empty means any protocol; the port comes back in network order.
bool LookupService(const std::string& name, const std::string& proto, uint16_t* port);

// Host lookup (blocking): the IPv4 addresses in the resolver's order, network order. Names under
// the reserved "invalid" top-level domain are answered "not found" without asking anyone.
constexpr std::size_t kMaxHostName = 255;
bool LookupHost(const std::string& name, std::vector<uint32_t>* addresses);

// The dotted-address parser: kAddressNone when the text is no address (and for
// "255.255.255.255", which the caller tells apart itself).
uint32_t ParseDottedAddress(const std::string& text);
std::string DottedAddress(uint32_t address);

} // namespace platform
