#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace sockettest;

namespace {

struct PortCase {
    const char* text;
    uint32_t number;
};

class PortConversion : public ::testing::TestWithParam<PortCase> {};

} // namespace

TEST_P(PortConversion, GivesThePortNumber) {
    ProbeSocket s;
    s.SetPort(GetParam().text);
    EXPECT_TRUE(s.PortAssigned);
    EXPECT_EQ(s.PortNumber, GetParam().number);
    EXPECT_EQ(ntohs(s.RemoteAddress.Port), GetParam().number);
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
        EXPECT_EQ(ExceptionText([&] { s.SetPort(text); }), message) << text;
        EXPECT_FALSE(s.PortAssigned);
        int errors = 0;
        s.OnError = [&](TCustomWSocket*) { ++errors; };
        s.SetPort(text);
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "no exception"); // refused via OnError
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
        EXPECT_FALSE(s.PortAssigned) << text;
        s.SetAddr("127.0.0.1");
        EXPECT_EQ(ExceptionText([&] { s.Listen(); }),
                  "Error 10022 in function listen: port not assigned\r\nInvalid argument");
        EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Port Specified");
        EXPECT_EQ(s.State(), wsClosed);
    }
    ProbeSocket zero;
    zero.SetPort("0");
    EXPECT_TRUE(zero.PortAssigned);
    EXPECT_EQ(zero.PortNumber, 0u);
}

TEST(WSocketPort, SameTextConvertsOnceUntilACloseResetsIt) {
    ProbeSocket s;
    s.SetPort("80");
    s.RemoteAddress.Port = 0; // a second conversion would put 80 back
    s.SetPort("80");
    EXPECT_EQ(s.RemoteAddress.Port, 0);
    AdoptedPair pair;
    s.Dup(pair.AcceptHandle());
    s.Close();
    EXPECT_FALSE(s.PortAssigned);
    s.SetPort("80");
    EXPECT_EQ(ntohs(s.RemoteAddress.Port), 80);
}

TEST(WSocketProto, NamesAndNumbersGiveTheSocketType) {
    const std::tuple<const char*, int, int> cases[] = {
        {"udp", 17, 2}, {"17", 17, 2}, {"tcp", 6, 1}, {" 6 ", 6, 1}};
    for (const auto& [text, number, type] : cases) {
        ProbeSocket s;
        s.SetProto(text);
        EXPECT_EQ(s.ProtoNumber, number) << text;
        EXPECT_EQ(s.SocketType, type) << text;
        EXPECT_TRUE(s.ProtoAssigned);
    }
}

TEST(WSocketProto, NotFoundChangesOnlyTheTextAndBadNamesAreRefused) {
    ProbeSocket s;
    s.SetProto("udp");
    s.SetProto("not found");
    EXPECT_EQ(s.Proto(), "not found");
    EXPECT_EQ(s.ProtoNumber, 17);
    EXPECT_TRUE(s.ProtoAssigned);
    EXPECT_EQ(ExceptionText([&] { s.SetProto("nosuchproto"); }),
              "Error 11004 in function SetProto: Cannot convert protocol 'nosuchproto'\r\nNo Data");
    EXPECT_FALSE(s.ProtoAssigned);
    EXPECT_EQ(ExceptionText([&] { s.SetProto(""); }),
              "Error 10022 in function SetProto: Cannot convert protocol ''\r\nInvalid argument");
    s.SetPort("80");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(ExceptionText([&] { s.Connect(); }), "Connect: No Protocol Specified");
}

TEST(WSocketAddr, DottedAnyBroadcastAndHostNames) {
    ProbeSocket s;
    s.SetAddr("0.0.0.0");
    EXPECT_EQ(s.RemoteAddress.Addr, 0u);
    s.SetAddr("255.255.255.255");
    EXPECT_EQ(s.RemoteAddress.Addr, 0xFFFFFFFFu);
    s.SetAddr(" localhost ");
    EXPECT_EQ(platform::DottedAddress(s.RemoteAddress.Addr), "127.0.0.1");
    EXPECT_TRUE(s.AddrAssigned);
}

TEST(WSocketAddr, UnresolvableHostIsAlwaysRaised) {
    ProbeSocket s;
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_EQ(ExceptionText([&] { s.SetAddr(" no-such-host.invalid"); }),
              "SetAddr: Cannot convert host address ' no-such-host.invalid'");
    EXPECT_FALSE(s.AddrAssigned);
    const std::string tooLong(300, 'a');
    EXPECT_EQ(ExceptionText([&] { s.SetAddr(tooLong); }),
              "SetAddr: Cannot convert host address '" + tooLong + "'");
    EXPECT_EQ(errors, 0);
}

TEST(WSocketAddr, ChangesAreRefusedUnlessClosed) {
    AdoptedPair pair;
    ProbeSocket s;
    s.SetAddr("10.1.2.3");
    s.Dup(pair.AcceptHandle());
    EXPECT_EQ(ExceptionText([&] { s.SetAddr("127.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(platform::DottedAddress(s.RemoteAddress.Addr), "10.1.2.3");
    EXPECT_EQ(ExceptionText([&] { s.SetPort("81"); }), "Cannot change Port if not closed");
    EXPECT_EQ(ExceptionText([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
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
    EXPECT_EQ(s.SocketType, 1);
}

TEST(WSocketSendFlags, MapsBothValuesAndRefusesOthers) {
    ProbeSocket s;
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlagsValue, 1);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(ExceptionText([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(5)); }),
              "Invalid SendFlags");
    EXPECT_EQ(s.SendFlagsValue, 1);
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
    EXPECT_EQ(ErrorText(0), "No Error");
    EXPECT_EQ(ErrorText(10035), "Operation would block");
    EXPECT_EQ(ErrorText(10061), "Connection refused");
    EXPECT_EQ(ErrorText(11001), "Host not found");
    EXPECT_EQ(ErrorText(99999), "Not a WinSock error");
    ProbeSocket s;
    platform::SetLastSocketError(99999);
    EXPECT_EQ(ExceptionText([&] { s.ReportSocketError("Probe"); }),
              "Error 99999 in function Probe\r\nNot a WinSock error");
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
