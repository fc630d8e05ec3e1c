#include "net/WSocket.h"

namespace {

using namespace platform;

} // namespace

void TCustomWSocket::DnsLookup(const std::string& host) {
    if (host.empty()) {
        ReportError("DNS lookup: invalid host name.");
        FireDnsLookupDone(sockerr::InvalidArgument);
        return;
    }
    if (LookupHandle != 0) {
        NotifyWindow->CancelLookup(LookupHandle); // replaced: no event for the old request
        LookupHandle = 0;
    }
    dnsResult_.clear();
    dnsResultList_.clear();
    const uint32_t parsed = ParseDottedAddress(host);
    if (parsed != kAddressNone) {
        dnsResult_ = DottedAddress(parsed);
        FireDnsLookupDone(0);
        return;
    }
    LookupHandle = NotifyWindow->StartLookup(host);
    if (LookupHandle == 0)
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", {host, LastSocketError()});
}

void TCustomWSocket::CancelDnsLookup() {
    if (LookupHandle == 0)
        return;
    const LookupRequest request = LookupHandle;
    LookupHandle = 0;
    if (NotifyWindow->CancelLookup(request) < 0) {
        ReportSocketError("WSACancelAsyncRequest");
        return;
    }
    if (!IsDestroying())
        FireDnsLookupDone(sockerr::Interrupted);
}

void TCustomWSocket::OnLookupDone(LookupRequest request, int error,
                                  const std::vector<uint32_t>& addresses) {
    HandleLookupDone(request, static_cast<uint16_t>(error), addresses);
}

void TCustomWSocket::HandleLookupDone(LookupRequest request, uint16_t Error,
                                      const std::vector<uint32_t>& addresses) {
    if (request != LookupHandle)
        return; // cancelled or replaced
    LookupHandle = 0;
    if (Error == 0) {
        for (const uint32_t a : addresses)
            dnsResultList_.push_back(DottedAddress(a));
        if (!dnsResultList_.empty())
            dnsResult_ = dnsResultList_.front();
    }
    FireDnsLookupDone(Error);
}
