#pragma once

#include <array>
#include <span>
#include <string>

// The socket layer's error codes: each with its name, its text and the system errors that mean
// it. One table, read both to translate a system error and to describe a code, so that the two
// can never disagree.
namespace platform {

namespace sockerr {
constexpr int Interrupted = 10004;
constexpr int BadFile = 10009;
constexpr int AccessDenied = 10013;
constexpr int BadAddress = 10014;
constexpr int InvalidArgument = 10022;
constexpr int TooManyOpenFiles = 10024;
constexpr int WouldBlock = 10035;
constexpr int InProgress = 10036;
constexpr int AlreadyInProgress = 10037;
constexpr int NotASocket = 10038;
constexpr int DestinationRequired = 10039;
constexpr int MessageTooLong = 10040;
constexpr int WrongProtocolType = 10041;
constexpr int ProtocolOption = 10042;
constexpr int ProtocolNotSupported = 10043;
constexpr int SocketTypeNotSupported = 10044;
constexpr int OperationNotSupported = 10045;
constexpr int ProtocolFamilyNotSupported = 10046;
constexpr int AddressFamilyNotSupported = 10047;
constexpr int AddressInUse = 10048;
constexpr int AddressNotAvailable = 10049;
constexpr int NetworkDown = 10050;
constexpr int NetworkUnreachable = 10051;
constexpr int NetworkReset = 10052;
constexpr int ConnectionAborted = 10053;
constexpr int ConnectionReset = 10054;
constexpr int NoBufferSpace = 10055;
constexpr int AlreadyConnected = 10056;
constexpr int NotConnected = 10057;
constexpr int Shutdown = 10058;
constexpr int TooManyReferences = 10059;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int SymbolicLinkLoop = 10062;
constexpr int NameTooLong = 10063;
constexpr int HostDown = 10064;
constexpr int HostUnreachable = 10065;
constexpr int NotEmpty = 10066;
constexpr int TooManyProcesses = 10067;
constexpr int TooManyUsers = 10068;
constexpr int QuotaExceeded = 10069;
constexpr int StaleHandle = 10070;
constexpr int Remote = 10071;
constexpr int SystemNotReady = 10091;
constexpr int VersionNotSupported = 10092;
constexpr int NotInitialised = 10093;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
} // namespace sockerr

// An unmapped errno e is reported as this base + e, which no description in the table names.
constexpr int kUnmappedErrorBase = 20000;

struct SocketErrorEntry {
    int code;
    const char* name;
    const char* text;
    std::array<int, 2> errnos; // the system errors that mean this code; 0 where unused
};

std::span<const SocketErrorEntry> SocketErrorTable();
// The code of a system error (0 for 0).
int ErrnoToSocketError(int err);
// The text of a code: "No Error" for 0, and a text of its own for a code the table lacks.
std::string SocketErrorText(int code);

} // namespace platform
