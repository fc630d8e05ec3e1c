#include "server/PeerRule.h"

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>

namespace peerrule {
namespace {

struct Range {
    uint32_t first; // host order
    int prefix;     // bits
};

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

constexpr Range kLoopback{ip(127, 0, 0, 0), 8};
constexpr std::array<Range, 6> kHome{{kLoopback,
                                      {ip(10, 0, 0, 0), 8},
                                      {ip(172, 16, 0, 0), 12},
                                      {ip(192, 168, 0, 0), 16},
                                      {ip(169, 254, 0, 0), 16},
                                      {ip(100, 64, 0, 0), 10}}};

bool inRange(uint32_t address, const Range& range) {
    const uint32_t mask = ~uint32_t{0} << (32 - range.prefix);
    return (address & mask) == range.first;
}

// The IPv4 address in host order, from dotted text or an IPv4-mapped IPv6 text.
std::optional<uint32_t> parse(std::string_view text) {
    const std::string name(text);
    in_addr v4{};
    if (::inet_pton(AF_INET, name.c_str(), &v4) == 1)
        return ntohl(v4.s_addr);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, name.c_str(), &v6) != 1 || !IN6_IS_ADDR_V4MAPPED(&v6))
        return std::nullopt;
    uint32_t carried = 0;
    std::memcpy(&carried, &v6.s6_addr[12], sizeof carried);
    return ntohl(carried);
}

} // namespace

bool IsLoopbackPeer(std::string_view address) {
    const std::optional<uint32_t> parsed = parse(address);
    return parsed && inRange(*parsed, kLoopback);
}

bool IsHomePeer(std::string_view address) {
    const std::optional<uint32_t> parsed = parse(address);
    if (!parsed)
        return false;
    for (const Range& range : kHome)
        if (inRange(*parsed, range))
            return true;
    return false;
}

} // namespace peerrule
