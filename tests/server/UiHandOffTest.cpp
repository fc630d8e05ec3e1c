// The workers' way to the UI thread: in order, never waiting, and safe after its owner is gone.
#include "server/UiHandOff.h"
#include "support/WaitUntil.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(UiHandOff, CallsFromOtherThreadsRunOnTheUiThreadInTheirOrder) {
    UiHandOff handOff;
    std::vector<int> order;
    std::atomic<int> wrongThread = 0;
    QThread* const ui = QThread::currentThread();
    std::thread worker([sender = handOff.sender(), &order, &wrongThread, ui] {
        for (int i = 0; i < 200; ++i)
            sender.Post([&order, &wrongThread, ui, i] {
                if (QThread::currentThread() != ui)
                    ++wrongThread;
                order.push_back(i);
            });
    });
    worker.join();
    ASSERT_TRUE(testwait::Until([&] { return order.size() == 200; }));
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_EQ(wrongThread, 0);

    // Later calls are taken again after the coalescing pause.
    std::thread([sender = handOff.sender(), &order] {
        sender.Post([&order] { order.push_back(200); });
    }).join();
    EXPECT_TRUE(testwait::Until([&] { return order.size() == 201; }));
}

TEST(UiHandOff, RunPendingRunsWhatWasPostedNowAndAFailingCallStopsNoOther) {
    UiHandOff handOff;
    std::vector<int> ran;
    std::thread([sender = handOff.sender(), &ran] {
        sender.Post([&ran] { ran.push_back(1); });
        sender.Post([] { throw std::runtime_error("a failing update"); });
        sender.Post([&ran] { ran.push_back(3); });
    }).join();
    EXPECT_EQ(handOff.RunPending(), 3);
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    EXPECT_EQ(handOff.RunPending(), 0);
    testwait::For(3 * UiHandOff::kCoalesceMs);
    EXPECT_EQ(ran.size(), 2u) << "nothing runs twice";
}

TEST(UiHandOff, PostingAfterTheOwnerIsGoneIsDropped) {
    std::optional<UiHandOff> handOff(std::in_place);
    const UiHandOff::Sender sender = handOff->sender();
    bool ran = false;
    sender.Post([&ran] { ran = true; });
    handOff.reset();
    sender.Post([&ran] { ran = true; });
    testwait::For(3 * UiHandOff::kCoalesceMs);
    EXPECT_FALSE(ran) << "calls not run by then are dropped, later ones too";
}

// Once the hand-off has gone quiet (its coalescing timer stopped), the next post must wake the
// UI thread again; a wake-up taken for granted there leaves the call waiting for good.
TEST(UiHandOff, APostAfterTheHandOffHasGoneQuietStillRuns) {
    UiHandOff handOff;
    std::atomic<int> ran = 0;
    for (int round = 1; round <= 5; ++round) {
        std::thread([sender = handOff.sender(), &ran] { sender.Post([&ran] { ++ran; }); }).join();
        ASSERT_TRUE(testwait::Until([&] { return ran == round; }, 5000)) << "round " << round;
        testwait::For(5 * UiHandOff::kCoalesceMs); // the timer finds nothing and stops
    }
}
