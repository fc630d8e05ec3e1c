#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace sockettest;

namespace {

// Records every completion code of one object.
struct Lookups {
    std::vector<int> done;
    void Attach(TCustomWSocket& s) {
        s.OnDnsLookupDone = [this](TCustomWSocket*, uint16_t error) { done.push_back(error); };
    }
};

// Lets every resolver thread finish and every completion it posted be handled.
void DrainLookups() {
    ASSERT_TRUE(PumpUntil([] { return platform::LookupsInFlight() == 0; }));
    platform::PumpThreadEvents();
}

} // namespace

TEST(DnsLookup, EmptyNameIsReportedThenCompletesWith10022) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    EXPECT_EQ(ExceptionText([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
    EXPECT_TRUE(l.done.empty());
    std::vector<std::string> order;
    s.OnError = [&](TCustomWSocket*) { order.push_back("error"); };
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) {
        order.push_back("done " + std::to_string(e));
    };
    s.DnsLookup("");
    EXPECT_EQ(order, (std::vector<std::string>{"error", "done 10022"}));
}

TEST(DnsLookup, DottedAddressCompletesBeforeItReturns) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("127.1");
    EXPECT_EQ(l.done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(s.DnsResultList().empty());
    EXPECT_EQ(s.LookupHandle, 0u);
}

TEST(DnsLookup, HostNameResolvesOnTheObjectsThread) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(l.done.empty());
    ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); }));
    EXPECT_EQ(l.done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");
}

TEST(DnsLookup, AllOnesIsLookedUpNotTakenAsAnAddress) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("255.255.255.255");
    EXPECT_TRUE(l.done.empty());
    ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); }));
    EXPECT_EQ(l.done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{"255.255.255.255"});
}

TEST(DnsLookup, UnknownNameCompletesWith11001AndNoResults) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("127.0.0.9");
    s.DnsLookup("no-such-host.invalid");
    EXPECT_TRUE(s.DnsResult().empty()); // the previous result is gone at the start
    ASSERT_TRUE(PumpUntil([&] { return l.done.size() == 2; }));
    EXPECT_EQ(l.done, (std::vector<int>{0, 11001}));
    EXPECT_TRUE(s.DnsResult().empty());
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(DnsLookup, CancelCompletesWith10004AndTheLateResultChangesNothing) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(l.done, std::vector<int>{10004});
    DrainLookups();
    EXPECT_EQ(l.done, std::vector<int>{10004});
    EXPECT_TRUE(s.DnsResult().empty());
    EXPECT_TRUE(s.DnsResultList().empty());
    s.CancelDnsLookup(); // nothing pending: nothing happens
    EXPECT_EQ(l.done.size(), 1u);
}

TEST(DnsLookup, ASecondLookupReplacesThePendingOne) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("localhost");
    s.DnsLookup("no-such-host.invalid");
    DrainLookups();
    EXPECT_EQ(l.done, std::vector<int>{11001});
    EXPECT_TRUE(s.DnsResult().empty());
}

TEST(DnsLookup, DestroyingWithALookupPendingCancelsIt) {
    Lookups direct;
    {
        auto s = std::make_unique<TWSocket>();
        direct.Attach(*s);
        s->DnsLookup("localhost");
    }
    EXPECT_EQ(direct.done, std::vector<int>{10004});

    Lookups owned;
    {
        auto owner = std::make_unique<QObject>();
        auto* s = new TWSocket(owner.get()); // destroyed by its owner, with the destroying mark
        owned.Attach(*s);
        s->DnsLookup("localhost");
    }
    EXPECT_TRUE(owned.done.empty());
    DrainLookups(); // the late completions find nobody
    EXPECT_EQ(direct.done.size(), 1u);
}

TEST(DnsLookup, AFailingCancellationIsReportedButNeverLeavesTheDestructor) {
    auto s = std::make_unique<ProbeSocket>();
    s->LookupHandle = 12345678; // a request the platform never started
    EXPECT_EQ(ExceptionText([&] { s->CancelDnsLookup(); }),
              "Error 10022 in function WSACancelAsyncRequest\r\nInvalid argument");
    EXPECT_EQ(s->LookupHandle, 0u);
    s->LookupHandle = 12345678;
    EXPECT_NO_THROW(s.reset());
}

TEST(DnsLookup, RunsOnAClosedObjectAndSurvivesItsConnections) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); }));
    AdoptedPair pair;
    s.Dup(pair.AcceptHandle());
    s.Close();
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}
