#include "SocketTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using namespace sockettest;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

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
    EXPECT_THAT(l.done, IsEmpty());
    Log order;
    s.OnError = [&](TCustomWSocket*) { order.push_back("error"); };
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) {
        order.push_back("done " + std::to_string(e));
    };
    s.DnsLookup("");
    EXPECT_THAT(order, ElementsAre("error", "done 10022"));
}

TEST(DnsLookup, DottedAddressCompletesBeforeItReturns) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("127.1");
    EXPECT_THAT(l.done, ElementsAre(0));
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_THAT(s.DnsResultList(), IsEmpty());
    s.CancelDnsLookup(); // no request was left pending: nothing to cancel
    DrainLookups();
    EXPECT_THAT(l.done, ElementsAre(0));
}

// A host name, and all ones (which the dotted parser cannot tell from "no address"), go to the
// resolver; the completion comes on the object's thread, never inside the call.
TEST(DnsLookup, NamesResolveOnTheObjectsThread) {
    const struct {
        const char* host;
        const char* first;
        ::testing::Matcher<const std::vector<std::string>&> list;
    } cases[] = {{"localhost", "127.0.0.1", Contains("127.0.0.1")},
                 {"255.255.255.255", "255.255.255.255", ElementsAre("255.255.255.255")}};
    for (const auto& c : cases) {
        ProbeSocket s;
        Lookups l;
        l.Attach(s);
        s.DnsLookup(c.host);
        EXPECT_THAT(l.done, IsEmpty()) << c.host;
        ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); })) << c.host;
        EXPECT_THAT(l.done, ElementsAre(0)) << c.host;
        EXPECT_EQ(s.DnsResult(), c.first);
        EXPECT_THAT(s.DnsResultList(), c.list);
        ASSERT_FALSE(s.DnsResultList().empty());
        EXPECT_EQ(s.DnsResultList().front(), c.first);
    }
}

TEST(DnsLookup, UnknownNameCompletesWith11001AndNoResults) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("127.0.0.9");
    s.DnsLookup("no-such-host.invalid");
    EXPECT_EQ(s.DnsResult(), ""); // the previous result is gone at the start
    ASSERT_TRUE(PumpUntil([&] { return l.done.size() == 2; }));
    EXPECT_THAT(l.done, ElementsAre(0, 11001));
    EXPECT_EQ(s.DnsResult(), "");
    EXPECT_THAT(s.DnsResultList(), IsEmpty());
}

TEST(DnsLookup, CancelCompletesWith10004AndTheLateResultChangesNothing) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_THAT(l.done, ElementsAre(10004));
    DrainLookups();
    EXPECT_EQ(s.DnsResult(), "");
    EXPECT_THAT(s.DnsResultList(), IsEmpty());
    s.CancelDnsLookup(); // nothing pending: nothing happens
    EXPECT_THAT(l.done, ElementsAre(10004));
}

TEST(DnsLookup, ASecondLookupReplacesThePendingOne) {
    ProbeSocket s;
    Lookups l;
    l.Attach(s);
    s.DnsLookup("localhost");
    s.DnsLookup("no-such-host.invalid");
    DrainLookups();
    EXPECT_THAT(l.done, ElementsAre(11001));
    EXPECT_EQ(s.DnsResult(), "");
}

TEST(DnsLookup, DestroyingWithALookupPendingCancelsIt) {
    Lookups direct;
    {
        auto s = std::make_unique<TWSocket>();
        direct.Attach(*s);
        s->DnsLookup("localhost");
    }
    EXPECT_THAT(direct.done, ElementsAre(10004));

    Lookups owned;
    {
        auto owner = std::make_unique<QObject>();
        auto* s = new TWSocket(owner.get()); // destroyed by its owner, with the destroying mark
        owned.Attach(*s);
        s->DnsLookup("localhost");
    }
    EXPECT_THAT(owned.done, IsEmpty());
    DrainLookups(); // the late completions find nobody
    EXPECT_THAT(direct.done, ElementsAre(10004));
    EXPECT_THAT(owned.done, IsEmpty());
}

TEST(DnsLookup, AFailingCancellationIsReportedButNeverLeavesTheDestructor) {
    auto s = std::make_unique<ProbeSocket>();
    Lookups l;
    l.Attach(*s);
    s->LookupHandle = 12345678; // a request the platform never started
    EXPECT_EQ(ExceptionText([&] { s->CancelDnsLookup(); }),
              "Error 10022 in function WSACancelAsyncRequest\r\nInvalid argument");
    EXPECT_EQ(ExceptionText([&] { s->CancelDnsLookup(); }), "no exception"); // forgotten at once
    EXPECT_THAT(l.done, IsEmpty());
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
