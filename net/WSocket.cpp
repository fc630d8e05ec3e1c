#include "net/WSocket.h"

#include "net/PortText.h"
#include "platform/Text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

namespace {

// A handler left unset means no one listens.
template <class Handler, class... Args> void CallIfSet(const Handler& handler, Args&&... args) {
    if (handler)
        handler(std::forward<Args>(args)...);
}

constexpr const char* kLibraryName = "wsock32.dll";

// Objects are created and destroyed on many threads at once; the count and the started mark
// change together, so one lock guards both and the start-up and clean-up calls.
struct Library {
    std::mutex mutex;
    int32_t live = 0;     // guarded by mutex
    bool started = false; // guarded by mutex
};

Library& TheLibrary() {
    static Library library;
    return library;
}

std::string Trim(const std::string& text) {
    return std::string(platform::TrimControls(text));
}

bool StartsWithDigit(const std::string& t) {
    return !t.empty() && t[0] >= '0' && t[0] <= '9';
}

// Leading spaces, then decimal digits; wraps around in 32 bits as the stored values do.
int32_t ParseLeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    return static_cast<int32_t>(value);
}

std::string Format(const std::string& format, const std::vector<TFormatArg>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        const char kind = format[++i];
        if (kind == '%') {
            out += '%';
        } else if (next < args.size()) {
            const TFormatArg& a = args[next++];
            out += std::holds_alternative<std::string>(a) ? std::get<std::string>(a)
                                                          : std::to_string(std::get<int32_t>(a));
        }
    }
    return out;
}

} // namespace

void StartSocketLibrary(const std::string& name) {
    Library& lib = TheLibrary();
    const std::lock_guard<std::mutex> lock(lib.mutex);
    if (lib.started)
        return;
    const int code = platform::StartupSocketLibrary();
    if (code != 0)
        throw ESocketException(Format("%s: WSAStartup error #%d", {name, code}));
    lib.started = true;
}

int32_t LiveSocketCount() {
    Library& lib = TheLibrary();
    const std::lock_guard<std::mutex> lock(lib.mutex);
    return lib.live;
}

bool LibraryStarted() {
    Library& lib = TheLibrary();
    const std::lock_guard<std::mutex> lock(lib.mutex);
    return lib.started;
}

TWait::~TWait() {
    for (TCustomWSocket* socket : users_)
        socket->waitCtrl_ = nullptr;
}

TCustomWSocket::TCustomWSocket(QObject* Owner) : QObject(Owner) {
    // The owner's destroyed() comes before it deletes its children: the mark is set in time.
    if (Owner)
        connect(Owner, &QObject::destroyed, this, [this] { destroying_ = true; });
    NotifyWindow =
        std::make_unique<platform::SocketEndpoint>(static_cast<platform::SocketEventSink*>(this));
    ResetToDefaults();
    Library& lib = TheLibrary();
    {
        const std::lock_guard<std::mutex> lock(lib.mutex);
        ++lib.live;
    }
    try {
        StartSocketLibrary(kLibraryName);
    } catch (...) {
        const std::lock_guard<std::mutex> lock(lib.mutex);
        --lib.live;
        throw;
    }
}

TCustomWSocket::~TCustomWSocket() {
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    try {
        if (state_ != wsClosed)
            Close();
    } catch (...) {
    }
    ReleaseHandle(); // a handle adopted without ever reaching a state that Close releases
    Library& lib = TheLibrary();
    {
        const std::lock_guard<std::mutex> lock(lib.mutex);
        if (--lib.live <= 0 && lib.started) {
            platform::CleanupSocketLibrary();
            lib.started = false;
            lib.live = 0;
        }
    }
    SetWaitCtrl(nullptr);
    NotifyWindow.reset();
}

void TCustomWSocket::EnsureLibrary() {
    if (!LibraryStarted())
        StartSocketLibrary(kLibraryName);
}

void TCustomWSocket::ResetToDefaults() {
    RemoteAddress = platform::SockAddrIn{};
    RemoteAddress.Family = platform::kAddressFamilyInet;
    AddressFamily = platform::kAddressFamilyInet;
    PortAssigned = false;
    AddrAssigned = false;
    ProtoAssigned = true;
    ProtoNumber = 6;
    ProtoText = "tcp";
    SocketType = platform::kStreamSocket;
    SocketHandle = platform::kInvalidHandle;
    state_ = wsClosed;
    WaitState = wsInvalidState;
    AllSent = true;
    ReadLineActive = false;
    LineLength = 0;
    Paused = false;
    readCount_ = 0;
    CloseFired = false;
    flushTimeout_ = 60;
}

bool TCustomWSocket::TakesSetting(bool assigned, std::string& text, const std::string& value,
                                  const char* name) {
    if (assigned && value == text)
        return false;
    text = value;
    if (state_ != wsClosed) {
        ReportError(std::string("Cannot change ") + name + " if not closed");
        return false;
    }
    return true;
}

void TCustomWSocket::SetProto(const std::string& value) {
    if (!TakesSetting(ProtoAssigned, ProtoText, value, "Proto"))
        return;
    const std::string t = Trim(value);
    if (t == "not found")
        return;
    ProtoAssigned = true;
    if (StartsWithDigit(t)) {
        ProtoNumber = ParseLeadingNumber(t);
    } else {
        EnsureLibrary();
        int number = 0;
        // An empty or over-long name is refused by the database like an unknown one.
        if (!platform::LookupProtocol(t, &number)) {
            ProtoAssigned = false;
            ReportSocketError("SetProto: Cannot convert protocol '" + t + "'");
            return;
        }
        ProtoNumber = static_cast<int16_t>(number);
    }
    SocketType = ProtoNumber == 17 ? platform::kDatagramSocket : platform::kStreamSocket;
}

void TCustomWSocket::SetPort(const std::string& value) {
    if (!TakesSetting(PortAssigned, PortText, value, "Port"))
        return;
    PortAssigned = true;
    const std::string t(porttext::Trimmed(value));
    if (porttext::IsNumber(t)) {
        const std::optional<uint16_t> number = porttext::ParseNumber(t);
        if (!number) {
            PortAssigned = false;
            platform::SetLastSocketError(platform::sockerr::InvalidArgument);
            ReportSocketError("SetPort: Cannot convert port '" + t + "'");
            return;
        }
        RemoteAddress.Port = htons(*number);
    } else {
        EnsureLibrary();
        uint16_t port = 0;
        if (!platform::LookupService(t, ProtoText, &port)) {
            PortAssigned = false;
            ReportSocketError("SetPort: Cannot convert port '" + t + "'");
            return;
        }
        RemoteAddress.Port = port;
    }
    PortNumber = ntohs(RemoteAddress.Port);
}

void TCustomWSocket::SetAddr(const std::string& value) {
    if (!TakesSetting(AddrAssigned, AddrText, value, "Addr"))
        return;
    AddrAssigned = false;
    RemoteAddress.Addr = ResolveAddress(value);
    AddrAssigned = true;
}

// Blocks for a host name lookup; an unknown host is always raised, also with OnError set.
uint32_t TCustomWSocket::ResolveAddress(const std::string& text) {
    const std::string t = Trim(text);
    if (t.size() <= platform::kMaxHostName) {
        const uint32_t parsed = platform::ParseDottedAddress(t);
        if (parsed != platform::kAddressNone)
            return parsed;
        if (t == "255.255.255.255")
            return platform::kAddressNone;
        EnsureLibrary();
        std::vector<uint32_t> found;
        if (platform::LookupHost(t, &found))
            return found.front();
    }
    throw ESocketException(Format("SetAddr: Cannot convert host address '%s'", {text}));
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    if (SendFlagsValue == 0)
        return wsSendNormal;
    if (SendFlagsValue == platform::kSendOutOfBand)
        return wsSendUrgent;
    ReportError("Invalid internal SendFlags");
    return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
    if (value == wsSendNormal)
        SendFlagsValue = 0;
    else if (value == wsSendUrgent)
        SendFlagsValue = platform::kSendOutOfBand;
    else
        ReportError("Invalid SendFlags");
}

void TCustomWSocket::SetMultiThreaded(bool value) {
    multiThreaded_ = value;
    NotifyWindow->SetSelfPumped(value);
}

void TCustomWSocket::SetPeerCloseEndsInput(bool on) {
    peerCloseEndsInput_ = on;
    NotifyWindow->SetPeerCloseEndsInput(on);
}

bool TCustomWSocket::PeerInputEnded() const {
    return NotifyWindow->InputEnded();
}

void TCustomWSocket::SetWaitCtrl(TWait* value) {
    if (waitCtrl_)
        std::erase(waitCtrl_->users_, this);
    waitCtrl_ = value;
    if (waitCtrl_)
        waitCtrl_->users_.push_back(this);
}

void TCustomWSocket::StopWaitCtrl() {
    if (!multiThreaded_ && waitCtrl_)
        waitCtrl_->Stop();
}

void TCustomWSocket::ChangeState(TSocketState newState) {
    const TSocketState old = state_;
    state_ = newState;
    FireChangeState(old, newState);
    if (newState == WaitState || (WaitState == wsConnected && newState == wsClosed))
        StopWaitCtrl();
}

bool TCustomWSocket::TimeValueIsSet(const TTimeVal& value) {
    return value.tv_sec != 0 || value.tv_usec != 0;
}

void TCustomWSocket::ClearTimeValue(TTimeVal& value) {
    value = TTimeVal{};
}

bool TCustomWSocket::CompareTimeValues(const TTimeVal& a, const TTimeVal& b, bool equal) {
    const bool same = a.tv_sec == b.tv_sec && a.tv_usec == b.tv_usec;
    return same == equal;
}

bool TCustomWSocket::FireDataAvailable(uint16_t Error) {
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomWSocket::FireSessionAvailable(uint16_t Error) {
    CallIfSet(OnSessionAvailable, this, Error);
}

void TCustomWSocket::FireSessionConnected(uint16_t Error) {
    CallIfSet(OnSessionConnected, this, Error);
}

void TCustomWSocket::FireSessionClosed(uint16_t Error) {
    CallIfSet(OnSessionClosed, this, Error);
}

void TCustomWSocket::FireDataSent(uint16_t Error) {
    CallIfSet(OnDataSent, this, Error);
}

void TCustomWSocket::FireChangeState(TSocketState OldState, TSocketState NewState) {
    CallIfSet(OnChangeState, this, OldState, NewState);
}

void TCustomWSocket::FireDnsLookupDone(uint16_t Error) {
    CallIfSet(OnDnsLookupDone, this, Error);
}

void TCustomWSocket::FireError() {
    CallIfSet(OnError, this);
}

void TCustomWSocket::ReportError(const std::string& text) {
    if (!OnError)
        throw ESocketException(text);
    FireError();
}

void TCustomWSocket::ReportErrorFmt(const std::string& format,
                                    const std::vector<TFormatArg>& args) {
    ReportError(Format(format, args));
}

void TCustomWSocket::ReportSocketError(const std::string& label) {
    const int32_t code = platform::LastSocketError();
    const std::string text =
        "Error " + std::to_string(code) + " in function " + label + "\r\n" + ErrorText(code);
    if (code == platform::sockerr::ConnectionReset || code == platform::sockerr::NotConnected) {
        ReleaseHandle();
        ChangeState(wsClosed);
    }
    ReportError(text);
}

void TCustomWSocket::DiscardSendQueue() {
    SendQueue.clear();
    AllSent = true;
}

// Ends whatever connection the handle carries: its unsent bytes were meant for that peer only.
void TCustomWSocket::ReleaseHandle() {
    if (SocketHandle == platform::kInvalidHandle)
        return;
    NotifyWindow->Forget();
    platform::SocketClose(SocketHandle);
    SocketHandle = platform::kInvalidHandle;
    DiscardSendQueue();
}

std::string ErrorText(int32_t code) {
    return platform::SocketErrorText(code);
}
