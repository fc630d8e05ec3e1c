#include "platform/SocketErrors.h"

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

constexpr SocketErrorEntry kTable[] = {
    {sockerr::Interrupted, "Interrupted", "Interrupted system call", {EINTR}},
    {sockerr::BadFile, "BadFile", "Bad file number", {}},
    {sockerr::AccessDenied, "AccessDenied", "Permission denied", {EACCES, EPERM}},
    {sockerr::BadAddress, "BadAddress", "Bad address", {EFAULT}},
    {sockerr::InvalidArgument, "InvalidArgument", "Invalid argument", {EINVAL}},
    {sockerr::TooManyOpenFiles, "TooManyOpenFiles", "Too many open files", {EMFILE, ENFILE}},
    {sockerr::WouldBlock, "WouldBlock", "Operation would block", {EAGAIN, EINPROGRESS}},
    {sockerr::InProgress, "InProgress", "Operation now in progress", {}},
    {sockerr::AlreadyInProgress, "AlreadyInProgress", "Operation already in progress", {EALREADY}},
    {sockerr::NotASocket, "NotASocket", "Socket operation on non-socket", {EBADF, ENOTSOCK}},
    {sockerr::DestinationRequired,
     "DestinationRequired",
     "Destination address required",
     {EDESTADDRREQ}},
    {sockerr::MessageTooLong, "MessageTooLong", "Message too long", {EMSGSIZE}},
    {sockerr::WrongProtocolType,
     "WrongProtocolType",
     "Protocol wrong type for socket",
     {EPROTOTYPE}},
    {sockerr::ProtocolOption, "ProtocolOption", "Protocol not available", {ENOPROTOOPT}},
    {sockerr::ProtocolNotSupported,
     "ProtocolNotSupported",
     "Protocol not supported",
     {EPROTONOSUPPORT}},
    {sockerr::SocketTypeNotSupported,
     "SocketTypeNotSupported",
     "Socket type not supported",
     {ESOCKTNOSUPPORT}},
    {sockerr::OperationNotSupported,
     "OperationNotSupported",
     "Operation not supported on socket",
     {EOPNOTSUPP}},
    {sockerr::ProtocolFamilyNotSupported,
     "ProtocolFamilyNotSupported",
     "Protocol family not supported",
     {EPFNOSUPPORT}},
    {sockerr::AddressFamilyNotSupported,
     "AddressFamilyNotSupported",
     "Address family not supported by protocol family",
     {EAFNOSUPPORT}},
    {sockerr::AddressInUse, "AddressInUse", "Address already in use", {EADDRINUSE}},
    {sockerr::AddressNotAvailable, "AddressNotAvailable", "Address not available", {EADDRNOTAVAIL}},
    {sockerr::NetworkDown, "NetworkDown", "Network is down", {ENETDOWN}},
    {sockerr::NetworkUnreachable, "NetworkUnreachable", "Network is unreachable", {ENETUNREACH}},
    {sockerr::NetworkReset, "NetworkReset", "Network dropped connection on reset", {ENETRESET}},
    {sockerr::ConnectionAborted, "ConnectionAborted", "Connection aborted", {ECONNABORTED}},
    {sockerr::ConnectionReset, "ConnectionReset", "Connection reset by peer", {ECONNRESET, EPIPE}},
    {sockerr::NoBufferSpace, "NoBufferSpace", "No buffer space available", {ENOBUFS, ENOMEM}},
    {sockerr::AlreadyConnected, "AlreadyConnected", "Socket is already connected", {EISCONN}},
    {sockerr::NotConnected, "NotConnected", "Socket is not connected", {ENOTCONN}},
    {sockerr::Shutdown, "Shutdown", "Can't send after socket shutdown", {ESHUTDOWN}},
    {sockerr::TooManyReferences,
     "TooManyReferences",
     "Too many references: can't splice",
     {ETOOMANYREFS}},
    {sockerr::TimedOut, "TimedOut", "Connection timed out", {ETIMEDOUT}},
    {sockerr::ConnectionRefused, "ConnectionRefused", "Connection refused", {ECONNREFUSED}},
    {sockerr::SymbolicLinkLoop, "SymbolicLinkLoop", "Too many levels of symbolic links", {ELOOP}},
    {sockerr::NameTooLong, "NameTooLong", "File name too long", {ENAMETOOLONG}},
    {sockerr::HostDown, "HostDown", "Host is down", {EHOSTDOWN}},
    {sockerr::HostUnreachable, "HostUnreachable", "No route to host", {EHOSTUNREACH}},
    {sockerr::NotEmpty, "NotEmpty", "Directory not empty", {ENOTEMPTY}},
    {sockerr::TooManyProcesses, "TooManyProcesses", "Too many processes", {}},
    {sockerr::TooManyUsers, "TooManyUsers", "Too many users", {EUSERS}},
    {sockerr::QuotaExceeded, "QuotaExceeded", "Disc quota exceeded", {EDQUOT}},
    {sockerr::StaleHandle, "StaleHandle", "Stale NFS file handle", {ESTALE}},
    {sockerr::Remote, "Remote", "Too many levels of remote in path", {EREMOTE}},
    {sockerr::SystemNotReady, "SystemNotReady", "Network sub-system is unusable", {}},
    {sockerr::VersionNotSupported,
     "VersionNotSupported",
     "WinSock DLL cannot support this application",
     {}},
    {sockerr::NotInitialised, "NotInitialised", "WinSock not initialized", {}},
    {sockerr::HostNotFound, "HostNotFound", "Host not found", {}},
    {sockerr::TryAgain, "TryAgain", "Non-authoritative host not found", {}},
    {sockerr::NoRecovery, "NoRecovery", "Non-recoverable error", {}},
    {sockerr::NoData, "NoData", "No Data", {}},
};

} // namespace

std::span<const SocketErrorEntry> SocketErrorTable() {
    return kTable;
}

int ErrnoToSocketError(int err) {
    if (err == 0)
        return 0;
    const auto* entry = std::find_if(std::begin(kTable), std::end(kTable), [err](const auto& e) {
        return std::find(e.errnos.begin(), e.errnos.end(), err) != e.errnos.end();
    });
    return entry == std::end(kTable) ? kUnmappedErrorBase + err : entry->code;
}

std::string SocketErrorText(int code) {
    if (code == 0)
        return "No Error";
    const auto* entry = std::find_if(std::begin(kTable), std::end(kTable),
                                     [code](const auto& e) { return e.code == code; });
    return entry == std::end(kTable) ? "Not a WinSock error" : entry->text;
}

} // namespace platform
