#include "SocketTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/netlink.h>

#include <thread>

using namespace sockettest;
using ::testing::ElementsAre;

namespace {

// A loopback address of this process's own (all of 127.0.0.0/8 is local): a fixed port number
// bound there meets no socket of another process, such as another run of these tests.
std::string OwnLoopbackAddress() {
    const auto pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(100 + pid % 100) + "." + std::to_string(pid / 100 % 250 + 1) +
           ".1";
}

struct PortCase {
    const char* text;
    uint32_t number;
};

void PrintTo(const PortCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(std::string(c.text));
}

class PortConversion : public ::testing::TestWithParam<PortCase> {};

} // namespace

// The number shows where it matters, in what the object binds to. A datagram socket, so that no
// listener of the machine's own (or the root rights a low port asks for, given here) is in the way
// of the fixed numbers.
TEST_P(PortConversion, GivesThePortTheObjectBindsTo) {
    ProbeSocket s;
    s.SetPort(GetParam().text); // a service name is looked up for the default, tcp
    s.SetProto("udp");
    s.SetAddr(OwnLoopbackAddress());
    ASSERT_EQ(s.Listen(), 0);
    EXPECT_EQ(s.GetLocalPort(), std::to_string(GetParam().number));
    EXPECT_EQ(s.Port(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Texts, PortConversion,
                         ::testing::Values(PortCase{"80", 80},          // plain
                                           PortCase{" 8080abc ", 8080}, // digits lead
                                           PortCase{"65535", 65535},    // the highest
                                           PortCase{"00080", 80},       // leading zeros
                                           PortCase{"http", 80},        // service database
                                           PortCase{"\t21\r\n", 21}));  // control characters

TEST(WSocketPort, UnconvertibleTextsAreReportedAndUnassigned) {
    const std::string longName(40, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"nosuchservice", "Error 11004 in function SetPort: Cannot convert port 'nosuchservice'"
                          "\r\nNo Data"},
        {"  ", "Error 10022 in function SetPort: Cannot convert port ''\r\nInvalid argument"},
        {"", "Error 10022 in function SetPort: Cannot convert port ''\r\nInvalid argument"},
        {longName, "Error 10022 in function SetPort: Cannot convert port '" + longName +
                       "'\r\nInvalid argument"}};
    for (const auto& [text, message] : cases) {
        ProbeSocket s;
        s.SetAddr("127.0.0.1");
        EXPECT_EQ(ExceptionText([&] { s.SetPort(text); }), message) << text;
        EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Port Specified") << text;
        int errors = 0;
        s.OnError = [&](TCustomWSocket*) { ++errors; };
        s.SetPort(text);
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "no exception"); // refused via OnError
        EXPECT_EQ(errors, 2);
        EXPECT_EQ(s.State(), wsClosed);
    }
}

// A number that does not fit in 16 bits names no port: taking its low bits would listen on (or
// connect to) some unrelated port without a word.
TEST(WSocketPort, NumbersBeyond65535AreRefusedAndLeaveThePortUnassigned) {
    for (const std::string text : {"65536", "99999", "4294967376", "99999999999999999999"}) {
        ProbeSocket s;
        EXPECT_EQ(ExceptionText([&] { s.SetPort(text); }),
                  "Error 10022 in function SetPort: Cannot convert port '" + text +
                      "'\r\nInvalid argument");
        s.SetAddr("127.0.0.1");
        EXPECT_EQ(ExceptionText([&] { s.Listen(); }),
                  "Error 10022 in function listen: port not assigned\r\nInvalid argument");
        EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Port Specified");
        EXPECT_EQ(s.State(), wsClosed);
    }
    ProbeSocket zero;
    EXPECT_GT(ListenOnLoopback(zero), 0); // 0 is a port: the system's choice
}

// A text already converted is not converted again, so a connected object takes it without a
// word; a close forgets the conversion, and the text must be set again before the next start.
TEST(WSocketPort, SameTextConvertsOnceUntilACloseResetsIt) {
    const std::string port = std::to_string(FreePort());
    AdoptedPair pair;
    ProbeSocket s;
    s.SetPort(port);
    s.Dup(pair.AcceptHandle());
    EXPECT_EQ(ExceptionText([&] { s.SetPort(port); }), "no exception");
    s.Close();
    EXPECT_EQ(s.Port(), port);
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(port);
    ASSERT_EQ(s.Listen(), 0);
    EXPECT_EQ(s.GetLocalPort(), port);
}

// The protocol decides the kind of socket: a datagram listener is connected at once.
TEST(WSocketProto, NamesAndNumbersGiveTheSocketType) {
    const Log datagram{"state 7>2", "state 2>6", "state 6>4", "connected 0"};
    const Log stream{"state 7>2", "state 2>6"};
    const std::pair<const char*, Log> cases[] = {
        {"udp", datagram}, {"17", datagram}, {"tcp", stream}, {" 6 ", stream}};
    for (const auto& [text, events] : cases) {
        ProbeSocket s;
        s.SetProto(text);
        s.RecordAll();
        EXPECT_GT(ListenOnLoopback(s), 0) << text;
        EXPECT_EQ(s.log, events) << text;
    }
}

TEST(WSocketProto, NotFoundChangesOnlyTheTextAndBadNamesAreRefused) {
    ProbeSocket s;
    s.SetProto("udp");
    s.SetProto("not found");
    EXPECT_EQ(s.Proto(), "not found");
    s.RecordAll();
    EXPECT_GT(ListenOnLoopback(s), 0);
    EXPECT_THAT(s.log, ElementsAre("state 7>2", "state 2>6", "state 6>4", "connected 0"));
    s.Close();
    s.OnError = nullptr;
    EXPECT_EQ(ExceptionText([&] { s.SetProto("nosuchproto"); }),
              "Error 11004 in function SetProto: Cannot convert protocol 'nosuchproto'\r\nNo Data");
    s.SetPort("0");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(ExceptionText([&] { s.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    EXPECT_EQ(ExceptionText([&] { s.SetProto(""); }),
              "Error 10022 in function SetProto: Cannot convert protocol ''\r\nInvalid argument");
    s.SetPort("80");
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Protocol Specified");
}

// What the address text gives shows in what the object binds to.
TEST(WSocketAddr, DottedAnyBroadcastAndHostNames) {
    const std::pair<const char*, const char*> cases[] = {{"0.0.0.0", "0.0.0.0"},
                                                         {"255.255.255.255", "255.255.255.255"},
                                                         {" localhost ", "127.0.0.1"}};
    for (const auto& [text, bound] : cases) {
        ProbeSocket s;
        s.SetAddr(text);
        s.SetPort("0");
        ASSERT_EQ(s.Listen(), 0) << text;
        EXPECT_EQ(BoundAddress(s), bound);
    }
}

TEST(WSocketAddr, UnresolvableHostIsAlwaysRaised) {
    ProbeSocket s;
    s.SetPort("80");
    EXPECT_EQ(ExceptionText([&] { s.SetAddr(" no-such-host.invalid"); }),
              "SetAddr: Cannot convert host address ' no-such-host.invalid'");
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No IP Address Specified");
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_EQ(ExceptionText([&] { s.SetAddr(" no-such-host.invalid"); }),
              "SetAddr: Cannot convert host address ' no-such-host.invalid'");
    const std::string tooLong(300, 'a');
    EXPECT_EQ(ExceptionText([&] { s.SetAddr(tooLong); }),
              "SetAddr: Cannot convert host address '" + tooLong + "'");
    EXPECT_EQ(errors, 0);
}

// A change while the object is in use is refused and changes nothing it uses: its datagrams still
// go where they went.
TEST(WSocketAddr, ChangesAreRefusedUnlessClosed) {
    const DatagramPair pair;
    ProbeSocket s;
    ASSERT_TRUE(pair.Connect(s));
    EXPECT_EQ(ExceptionText([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(ExceptionText([&] { s.SetPort(std::to_string(FreePort())); }),
              "Cannot change Port if not closed");
    EXPECT_EQ(ExceptionText([&] { s.SetProto("tcp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(s.SendText("still here"), 10);
    EXPECT_EQ(pair.receiver.ReadDatagram(), "still here");
}

TEST(WSocketReset, ACloseRestoresProtoAndFlushTimeout) {
    AdoptedPair pair;
    ProbeSocket s;
    s.SetProto("udp");
    s.SetFlushTimeout(5);
    s.Dup(pair.AcceptHandle());
    s.Close();
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_EQ(s.FlushTimeout(), 60);
    s.RecordAll();
    EXPECT_GT(ListenOnLoopback(s), 0);
    EXPECT_THAT(s.log, ElementsAre("state 7>2", "state 2>6")); // a stream listener again
}

TEST(WSocketSendFlags, UrgentBytesGoOutOfBandAndOtherValuesAreRefused) {
    AdoptedPair pair;
    ProbeSocket s;
    s.Dup(pair.AcceptHandle());
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(ExceptionText([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(5)); }),
              "Invalid SendFlags");
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(s.SendText("!"), 1);
    ASSERT_TRUE(TransportShows(pair.client.fd(), POLLPRI));
    char urgent = 0;
    EXPECT_EQ(::recv(pair.client.fd(), &urgent, 1, MSG_OOB), 1);
    EXPECT_EQ(urgent, '!');
    s.SendFlagsValue = 7;
    EXPECT_EQ(ExceptionText([&] { s.SendFlags(); }), "Invalid internal SendFlags");
    s.OnError = [](TCustomWSocket*) {};
    EXPECT_EQ(s.SendFlags(), wsSendNormal);
}

TEST(WSocketErrors, OnErrorTakesTheFailureThatOtherwiseRaises) {
    TWSocket s;
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Port Specified");
    std::vector<TCustomWSocket*> senders;
    s.OnError = [&](TCustomWSocket* sender) { senders.push_back(sender); };
    EXPECT_NO_THROW(s.Connect());
    EXPECT_EQ(senders, std::vector<TCustomWSocket*>{&s});
}

TEST(WSocketErrors, DescriptionsComeFromOneTable) {
    const std::pair<int32_t, const char*> texts[] = {{0, "No Error"},
                                                     {10035, "Operation would block"},
                                                     {10061, "Connection refused"},
                                                     {11001, "Host not found"},
                                                     {99999, "Not a WinSock error"}};
    for (const auto& [code, text] : texts)
        EXPECT_EQ(ErrorText(code), text) << code;
    // A routing socket cannot tell its pending bytes; the code it fails with is not in the table.
    RawSocket routing(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    ASSERT_TRUE(routing.valid());
    TWSocket s;
    s.Dup(routing.Release());
    EXPECT_EQ(ExceptionText([&] { s.RcvdCount(); }),
              "Error 20025 in function ioctlSocket\r\nNot a WinSock error");
}

TEST(WSocketTime, ValueHelpers) {
    TWSocket s;
    TTimeVal a{1, 0}, b{1, 0};
    EXPECT_TRUE(s.TimeValueIsSet(a));
    EXPECT_TRUE(s.CompareTimeValues(a, b, true));
    EXPECT_FALSE(s.CompareTimeValues(a, b, false));
    s.ClearTimeValue(a);
    EXPECT_FALSE(s.TimeValueIsSet(a));
}

// Objects come and go on many threads at once; the count and the library's start-up must agree
// at the end.
TEST(WSocketLibrary, CountStaysRightAcrossThreads) {
    const int32_t before = LiveSocketCount();
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back([] {
                for (int i = 0; i < 100; ++i) {
                    TWSocket s;
                    EXPECT_TRUE(LibraryStarted());
                }
            });
        for (auto& t : threads)
            t.join();
    }
    EXPECT_EQ(LiveSocketCount(), before);
    EXPECT_EQ(LibraryStarted(), before > 0);
}
