#include "platform/HostLookup.h"

#include "platform/SocketErrors.h"
#include "platform/Sockets.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {
namespace {

std::atomic<LookupRequest> gNextLookup{0};
std::atomic<int> gLookupsInFlight{0};

} // namespace

LookupRequest StartHostLookup(const std::string& host, LookupDone done) {
    const LookupRequest request = ++gNextLookup;
    ++gLookupsInFlight;
    try {
        std::thread([done = std::move(done), request, host] {
            std::vector<std::uint32_t> addresses;
            const int error = LookupHost(host, &addresses) ? 0 : LastSocketError();
            done(request, error, std::move(addresses));
            --gLookupsInFlight;
        }).detach();
    } catch (const std::system_error& e) {
        --gLookupsInFlight;
        SetLastSocketError(ErrnoToSocketError(e.code().value()));
        return 0;
    }
    return request;
}

int LookupsInFlight() {
    return gLookupsInFlight.load();
}

} // namespace platform
