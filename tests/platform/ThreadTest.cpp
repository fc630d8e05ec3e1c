#include "platform/Thread.h"
#include "platform/CoalescingQueue.h"
#include "platform/Tuning.h"
#include "platform/UiCalls.h"
#include "platform/WorkerPool.h"

#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

// Each scope undoes at its end what it did at its start: a copy or a move would undo it twice.
static_assert(!std::is_copy_constructible_v<platform::BlockingScope> &&
              !std::is_move_constructible_v<platform::BlockingScope> &&
              !std::is_copy_assignable_v<platform::BlockingScope>);
static_assert(!std::is_copy_constructible_v<platform::PromptWakeScope> &&
              !std::is_move_constructible_v<platform::PromptWakeScope> &&
              !std::is_copy_assignable_v<platform::PromptWakeScope>);

class LambdaThread : public platform::TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
    bool Call(const std::function<void()>& fn) { return Synchronize(fn); }

    // How often the pool asked whether it could run at once; it answers as told.
    std::atomic<int> asked = 0;
    bool ready = true;

protected:
    void Execute() override { body_(*this); }
    bool ReadyToRun() override {
        ++asked;
        return ready;
    }

private:
    std::function<void(LambdaThread&)> body_;
};

} // namespace

TEST(TThread, SynchronizeRunsOnTheUiThreadWhileTheWorkerWaits) {
    platform::ResetUiCalls();
    std::atomic<bool> ranOnUi = false;
    std::atomic<bool> returned = false;
    LambdaThread worker([&](LambdaThread& self) {
        const bool ran = self.Call([&] { ranOnUi = QThread::currentThread() == qApp->thread(); });
        returned = ran;
    });
    worker.Resume();
    ASSERT_TRUE(testwait::Until([&] { return returned.load(); }));
    EXPECT_TRUE(ranOnUi);
    worker.wait();
    EXPECT_EQ(platform::TThread::RunningCount(), 0);
}

TEST(TThread, PendingCallsReturnWithoutRunningAfterShutdown) {
    platform::ResetUiCalls();
    std::atomic<bool> ran = false;
    std::atomic<int> result = -1;
    LambdaThread worker([&](LambdaThread& self) { result = self.Call([&] { ran = true; }); });
    worker.Resume();
    // The UI loop is not run: the call stays queued until shutdown releases the worker.
    QThread::msleep(20);
    platform::ShutdownUiCalls();
    ASSERT_TRUE(worker.wait(10000));
    EXPECT_EQ(result, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran) << "a cancelled call must not run later";
    EXPECT_TRUE(platform::TThread::WaitForAll(1000));
    platform::ResetUiCalls();
}

TEST(TThread, FreeOnTerminateDeletesAfterRunAndWaitForAllIsBounded) {
    platform::ResetUiCalls();
    std::atomic<bool> release = false;
    QPointer<LambdaThread> worker = new LambdaThread([&](LambdaThread&) {
        while (!release)
            QThread::msleep(1);
    });
    worker->FreeOnTerminate = true;
    worker->Resume();
    EXPECT_FALSE(platform::TThread::WaitForAll(30));
    release = true;
    EXPECT_TRUE(platform::TThread::WaitForAll(10000));
    EXPECT_TRUE(testwait::Until([&] { return worker.isNull(); }));
}

TEST(TThread, QueuedCallsRunInOrderAfterEarlierBlockingOnesAndStopAtShutdown) {
    platform::ResetUiCalls();
    std::vector<int> order;
    std::atomic<bool> done = false;
    LambdaThread worker([&](LambdaThread& self) {
        for (int i = 0; i < 50; ++i) {
            if (i % 10 == 0)
                self.Call([&order, i] { order.push_back(i); });
            else
                platform::PostToUiThread([&order, i] { order.push_back(i); });
        }
        done = true;
    });
    worker.Resume();
    ASSERT_TRUE(testwait::Until([&] { return done.load(); }));
    worker.wait();
    // Calls nobody waits for may be held back a moment, to run together with later ones.
    ASSERT_TRUE(testwait::Until([&] { return order.size() >= 50; }));
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);

    bool ran = false;
    platform::PostToUiThread([&] { ran = true; });
    platform::ShutdownUiCalls();
    // Long enough for a call held back by the coalescing to come up, while still shut down: run
    // after the reset below, it would write into this test's finished frame.
    testwait::For(5 * platform::CoalescingQueue::kCoalesceMs);
    EXPECT_FALSE(ran);
    platform::ResetUiCalls();
}

TEST(TThread, OperatingSystemThreadsAreReusedThenEndWhenIdle) {
    platform::ResetUiCalls();
    std::atomic<QThread*> first = nullptr;
    std::atomic<QThread*> second = nullptr;
    LambdaThread a([&](LambdaThread&) { first = QThread::currentThread(); });
    a.Resume();
    ASSERT_TRUE(a.wait(10000));
    LambdaThread b([&](LambdaThread&) { second = QThread::currentThread(); });
    b.Resume();
    ASSERT_TRUE(b.wait(10000));
    EXPECT_EQ(first.load(), second.load()) << "the second worker ran on the first one's thread";
    EXPECT_NE(first.load(), qApp->thread());
    EXPECT_GE(platform::TThread::PooledThreadCount(), 1);
    EXPECT_TRUE(testwait::Until([] { return platform::TThread::PooledThreadCount() == 0; }))
        << "idle threads end";
}

TEST(TThread, WorkersResumedTogetherRunAtOnceBesideAnIdleThread) {
    platform::ResetUiCalls();
    // Leaves one idle operating-system thread behind, which every Resume below could count on.
    LambdaThread warm([](LambdaThread&) {});
    warm.Resume();
    ASSERT_TRUE(warm.wait(10000));
    constexpr int kWorkers = 8;
    std::atomic<int> running = 0;
    std::atomic<int> sawAll = 0;
    std::vector<std::unique_ptr<LambdaThread>> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.push_back(std::make_unique<LambdaThread>([&](LambdaThread&) {
            ++running;
            QElapsedTimer timer;
            timer.start();
            while (running < kWorkers && timer.elapsed() < 5000)
                QThread::msleep(1);
            sawAll += running == kWorkers;
        }));
    for (auto& worker : workers)
        worker->Resume();
    for (auto& worker : workers)
        ASSERT_TRUE(worker->wait(20000));
    EXPECT_EQ(sawAll, kWorkers) << "a worker waited for another to end before it could start";
}

TEST(TThread, WorkersThatAreNeverReadyAreSetBackOnceAndStillRun) {
    platform::ResetUiCalls();
    constexpr int kWorkers = 12;
    std::atomic<int> ran = 0;
    std::vector<std::unique_ptr<LambdaThread>> workers;
    for (int i = 0; i < kWorkers; ++i) {
        workers.push_back(std::make_unique<LambdaThread>([&](LambdaThread&) {
            ++ran;
            QThread::msleep(2); // keeps the others queued behind it
        }));
        workers.back()->ready = false;
    }
    for (auto& worker : workers)
        worker->Resume();
    for (auto& worker : workers)
        ASSERT_TRUE(worker->wait(20000));
    EXPECT_EQ(ran, kWorkers);
    int asked = 0;
    for (auto& worker : workers) {
        EXPECT_LE(worker->asked, 1) << "a worker was set back more than once";
        asked += worker->asked;
    }
    EXPECT_GT(asked, 0) << "workers queued behind others were never asked";
}

// The program's threads are batch work from start-up on: the threads started afterwards (the
// pooled ones are started from the UI thread) must be so too, or only the UI thread would yield.
TEST(TThread, ThreadsStartedAfterFavouringThroughputAreBatchWorkToo) {
    int own = -1;
    int started = -1;
    std::thread first([&] {
        ASSERT_TRUE(platform::FavourThroughput());
        own = sched_getscheduler(0);
        std::thread second([&] { started = sched_getscheduler(0); });
        second.join();
    });
    first.join();
    EXPECT_EQ(own, SCHED_BATCH);
    EXPECT_EQ(started, SCHED_BATCH);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "only the calling thread changes";
}

// A wait for a request on its way is scheduled normally on a batch thread, and only for its span;
// elsewhere the scope changes nothing.
TEST(TThread, PromptWakeScopesScheduleBatchThreadsNormallyOnlyForTheirSpan) {
    int inside = -1;
    int after = -1;
    std::thread batch([&] {
        ASSERT_TRUE(platform::FavourThroughput());
        {
            const platform::PromptWakeScope wait;
            inside = sched_getscheduler(0);
        }
        after = sched_getscheduler(0);
    });
    batch.join();
    EXPECT_EQ(inside, SCHED_OTHER);
    EXPECT_EQ(after, SCHED_BATCH);
    {
        const platform::PromptWakeScope wait;
        EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    }
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
}

// The blocking call returns once the UI thread has run it; bounded here, so that a call whose end
// is never reported fails the test in seconds instead of hanging it.
TEST(TThread, ABlockingCallIntoTheUiThreadReturnsOnceItHasRun) {
    platform::ResetUiCalls();
    std::atomic<int> calls = 0;
    std::atomic<bool> allReturned = false;
    // Leaked when it hangs: its destructor would wait for it for ever.
    auto* worker = new LambdaThread([&](LambdaThread& self) {
        bool ok = true;
        for (int i = 0; i < 20; ++i)
            ok = self.Call([&] { ++calls; }) && ok;
        allReturned = ok;
    });
    worker->Resume();
    QElapsedTimer waited;
    waited.start();
    while (!worker->wait(0) && waited.elapsed() < 5000)
        testwait::Nap();
    if (!worker->wait(0)) {
        ADD_FAILURE() << "the worker still waits for a call that has run: " << calls.load()
                      << " ran";
        // Shutdown releases a waiting worker; one that stays would hold the process at its end,
        // when the pool waits for its threads, so it ends here instead.
        platform::ShutdownUiCalls();
        if (!worker->wait(2000)) {
            std::fflush(nullptr);
            std::_Exit(1);
        }
        platform::ResetUiCalls();
    }
    EXPECT_TRUE(allReturned);
    EXPECT_EQ(calls, 20);
    delete worker;
}

namespace {

// Lowers the address-space limit to just above what the process uses, so that the pool may
// start no thread (it stops short of the limit), and restores it when it goes.
class NoRoomForThreads {
public:
    NoRoomForThreads() {
        ::getrlimit(RLIMIT_AS, &saved_);
        unsigned long long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%llu", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        rlimit tight = saved_;
        tight.rlim_cur = pages * static_cast<unsigned long long>(::getpagesize()) +
                         platform::TThread::kStackSize / 2;
        set_ = pages > 0 && ::setrlimit(RLIMIT_AS, &tight) == 0;
    }
    ~NoRoomForThreads() { ::setrlimit(RLIMIT_AS, &saved_); }
    NoRoomForThreads(const NoRoomForThreads&) = delete;
    NoRoomForThreads& operator=(const NoRoomForThreads&) = delete;
    bool set() const { return set_; }

private:
    rlimit saved_{};
    bool set_ = false;
};

} // namespace

// A worker refused a thread stays with its owner: it is not left queued for the next thread
// that comes, and it is not counted as running.
TEST(TThread, AWorkerRefusedAThreadNeverRunsLater) {
    platform::ResetUiCalls();
    platform::SetPoolIdleMs(20); // no idle thread may take it
    ASSERT_TRUE(testwait::Until([] { return platform::TThread::PooledThreadCount() == 0; }));
    std::atomic<bool> refusedRan = false;
    LambdaThread refused([&](LambdaThread&) { refusedRan = true; });
    {
        const NoRoomForThreads noRoom;
        ASSERT_TRUE(noRoom.set());
        EXPECT_FALSE(refused.Resume());
    }
    EXPECT_EQ(platform::TThread::RunningCount(), 0);
    std::atomic<bool> laterRan = false;
    LambdaThread later([&](LambdaThread&) { laterRan = true; });
    ASSERT_TRUE(later.Resume());
    ASSERT_TRUE(later.wait(10000));
    EXPECT_TRUE(laterRan);
    testwait::For(50);
    EXPECT_FALSE(refusedRan) << "the refused worker was run by the next thread";
    EXPECT_TRUE(testwait::Until([] { return platform::TThread::RunningCount() == 0; }, 5000));
    platform::SetPoolIdleMs(platform::TThread::kIdleMs);
}

namespace {

using Clock = std::chrono::steady_clock;

// Resumes a worker that notes when it started, and returns how long it took, waiting at most
// `patienceMs` for it.
long long StartDelayMs(int patienceMs) {
    std::atomic<Clock::rep> started = 0;
    LambdaThread worker([&](LambdaThread&) { started = Clock::now().time_since_epoch().count(); });
    const auto resumed = Clock::now();
    if (!worker.Resume() || !worker.wait(static_cast<unsigned long>(patienceMs)))
        return patienceMs;
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               Clock::time_point(Clock::duration(started.load())) - resumed)
        .count();
}

} // namespace

// Workers resumed just as idle threads' waits run out: a thread handed a worker in that moment
// must take it and account for the wake-up, or the pool counts wake-ups that never come and
// later workers wait out a whole idle time for a thread that was never woken.
TEST(TThread, WorkersResumedAsIdleThreadsRunOutStartWithinTheIdleTime) {
    platform::ResetUiCalls();
    // Waits that run out all the time, each resume about when the last one to sleep runs out.
    platform::SetPoolIdleMs(1);
    for (int i = 0; i < 1500; ++i) {
        LambdaThread worker([](LambdaThread&) {});
        ASSERT_TRUE(worker.Resume());
        ASSERT_TRUE(worker.wait(10000));
        std::this_thread::sleep_for(std::chrono::microseconds(900 + 50 * (i % 5)));
    }
    // Then a long idle time: a worker resumed beside an idle thread must not wait it out.
    constexpr int kIdleMs = 600;
    platform::SetPoolIdleMs(kIdleMs);
    long long slowest = 0;
    for (int i = 0; i < 3; ++i) {
        StartDelayMs(2 * kIdleMs); // leaves its thread idle, waiting kIdleMs
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        slowest = std::max(slowest, StartDelayMs(2 * kIdleMs));
    }
    EXPECT_LT(slowest, kIdleMs / 2) << "a worker waited for a thread that was never woken";
    platform::SetPoolIdleMs(platform::TThread::kIdleMs);
}
