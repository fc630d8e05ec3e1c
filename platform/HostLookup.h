#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

using LookupRequest = std::uint64_t;
// Called on the resolver thread with the request, a code (0 or 11001-11004) and the addresses in
// the resolver's order.
using LookupDone =
    std::function<void(LookupRequest request, int error, std::vector<std::uint32_t> addresses)>;

// Resolves `host` on a resolver thread of its own, which hands the result to `done` and ends.
// The thread is detached: a lookup that hangs in the resolver must not hold up the program's
// exit, so `done` must own what it touches. Returns the request (never 0), or 0 (and the last
// error) when no thread could be started.
LookupRequest StartHostLookup(const std::string& host, LookupDone done);
// Resolver threads still running, for tests and for diagnostics at exit.
int LookupsInFlight();

} // namespace platform
