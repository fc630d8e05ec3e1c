#pragma once

#include <cstdint>
#include <string_view>

// Which peers count as this computer or the home network, decided from the peer's address alone.
// Addresses are dotted IPv4 text as the listener reports them; the IPv4-mapped IPv6 form
// ("::ffff:192.168.1.2") is read as the IPv4 address it carries. Anything that is not an address
// counts as a stranger.
namespace peerrule {

// 127.0.0.0/8.
bool IsLoopbackPeer(std::string_view address);
// Loopback, the private ranges (10/8, 172.16/12, 192.168/16), link-local (169.254/16) and the
// shared range carriers and home tunnels use (100.64/10).
bool IsHomePeer(std::string_view address);

} // namespace peerrule
