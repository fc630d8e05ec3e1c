// Which peers count as this computer and the home network: the edges of every range, the first
// addresses past them, mapped IPv6 forms and texts that are no address.
#include "server/PeerRule.h"

#include <gtest/gtest.h>

namespace {

struct Peer {
    const char* address;
    bool loopback;
    bool home;
    const char* why;
};

class PeerRuleTest : public ::testing::TestWithParam<Peer> {};

} // namespace

TEST_P(PeerRuleTest, DecidesFromTheAddressAlone) {
    const Peer& p = GetParam();
    EXPECT_EQ(peerrule::IsLoopbackPeer(p.address), p.loopback) << p.address << ": " << p.why;
    EXPECT_EQ(peerrule::IsHomePeer(p.address), p.home) << p.address << ": " << p.why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PeerRuleTest,
    ::testing::Values(Peer{"127.0.0.1", true, true, "the loopback address"},
                      Peer{"127.0.0.0", true, true, "first of 127/8"},
                      Peer{"127.255.255.255", true, true, "last of 127/8"},
                      Peer{"126.255.255.255", false, false, "just below 127/8"},
                      Peer{"128.0.0.0", false, false, "just above 127/8"},
                      Peer{"10.0.0.0", false, true, "first of 10/8"},
                      Peer{"10.255.255.255", false, true, "last of 10/8"},
                      Peer{"9.255.255.255", false, false, "just below 10/8"},
                      Peer{"11.0.0.0", false, false, "just above 10/8"},
                      Peer{"172.16.0.0", false, true, "first of 172.16/12"},
                      Peer{"172.31.255.255", false, true, "last of 172.16/12"},
                      Peer{"172.15.255.255", false, false, "just below 172.16/12"},
                      Peer{"172.32.0.0", false, false, "just above 172.16/12"},
                      Peer{"192.168.0.0", false, true, "first of 192.168/16"},
                      Peer{"192.168.255.255", false, true, "last of 192.168/16"},
                      Peer{"192.167.255.255", false, false, "just below 192.168/16"},
                      Peer{"192.169.0.0", false, false, "just above 192.168/16"},
                      Peer{"169.254.0.0", false, true, "first of link-local"},
                      Peer{"169.254.255.255", false, true, "last of link-local"},
                      Peer{"169.253.255.255", false, false, "just below link-local"},
                      Peer{"169.255.0.0", false, false, "just above link-local"},
                      Peer{"100.64.0.0", false, true, "first of the shared range"},
                      Peer{"100.127.255.255", false, true, "last of the shared range"},
                      Peer{"100.63.255.255", false, false, "just below the shared range"},
                      Peer{"100.128.0.0", false, false, "just above the shared range"},
                      Peer{"8.8.8.8", false, false, "a public address"},
                      Peer{"0.0.0.0", false, false, "the unspecified address"},
                      Peer{"255.255.255.255", false, false, "broadcast"},
                      Peer{"::ffff:192.168.1.20", false, true, "mapped home address"},
                      Peer{"::ffff:127.0.0.1", true, true, "mapped loopback"},
                      Peer{"::FFFF:8.8.8.8", false, false, "mapped public address"},
                      Peer{"::1", false, false, "IPv6 loopback carries no IPv4 address"},
                      Peer{"fe80::1", false, false, "IPv6 link-local is not mapped"},
                      Peer{"", false, false, "no address"},
                      Peer{"192.168.1", false, false, "too few parts"},
                      Peer{"192.168.1.1 ", false, false, "a trailing blank"},
                      Peer{"192.168.1.256", false, false, "a part too large"},
                      Peer{"localhost", false, false, "a name, not an address"}));
