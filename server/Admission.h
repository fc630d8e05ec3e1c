#pragma once

#include "config/AccessChoices.h"
#include "server/RequestCollector.h"

#include <functional>
#include <optional>
#include <string_view>

// Whether a request is let in at all, decided from the peer's address and the request line alone
// as soon as its header is whole: a peer the reach does not serve learns nothing of the site, and
// with uploads off no PUT is looked at further.
namespace admission {

// Whether the peer counts as the home network's (peerrule::IsHomePeer, or a test's stand-in).
using HomePeer = std::function<bool(std::string_view address)>;

inline constexpr const char* kOnlyThisComputer = "Only visitors on this computer are served";
inline constexpr const char* kOnlyHomeNetwork = "Only visitors from the home network are served";

// True when `reach` serves the peer at `address`: this computer only takes loopback peers, the
// home network those `homePeer` counts in, anywhere everybody.
bool Served(ReachChoice reach, std::string_view address, const HomePeer& homePeer);

// A 403 refusal for a peer not served, or for any PUT while uploads are off; nullopt to go on.
std::optional<request::RequestCollector::Refusal> AtHeader(ReachChoice reach, UploadsChoice uploads,
                                                           std::string_view address,
                                                           const HomePeer& homePeer,
                                                           std::string_view header);

} // namespace admission
