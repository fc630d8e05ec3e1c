// The pooled threads' event dispatcher, driven through the toolkit's own objects (timers, socket
// notifiers, posted events, event loops) on a thread that has it.
#include "platform/ThreadEvents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Starts the thread with our dispatcher and gives it ten seconds to publish what the test works
// with; true once it has.
template <typename Dispatcher, typename T>
bool StartAndAwait(QThread& thread, Dispatcher dispatcher, const std::atomic<T*>& ready) {
    thread.setEventDispatcher(dispatcher.release());
    thread.start();
    QElapsedTimer waited;
    waited.start();
    while (!ready && waited.elapsed() < 10000)
        QThread::msleep(1);
    return ready.load() != nullptr;
}

// Runs body on a thread whose dispatcher is ours, and waits for it to end. What the body wrote is
// handed over through the flag, which the thread checker sees (it does not see into the toolkit).
void RunOnDispatcherThread(const std::function<void()>& body) {
    auto dispatcher = platform::ThreadEventDispatcher::Create();
    ASSERT_TRUE(dispatcher);
    std::atomic<bool> ended = false;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        body();
        ended.store(true, std::memory_order_release);
    }));
    thread->setEventDispatcher(dispatcher.release());
    thread->start();
    ASSERT_TRUE(thread->wait(20000)) << "the thread's loop never ended";
    ASSERT_TRUE(ended.load(std::memory_order_acquire));
}

// A loop that ends itself after `ms` at the latest; true when something else ended it first.
bool RunLoop(QEventLoop& loop, int ms) {
    bool timedOut = false;
    QTimer::singleShot(ms, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    loop.exec();
    return !timedOut;
}

struct SocketPair {
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds); }
    ~SocketPair() {
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    int fds[2] = {-1, -1};
};

} // namespace

TEST(ThreadEventDispatcher, TimersFireInOrderRepeatAndStopWhenKilledInTheirOwnEvent) {
    std::vector<std::string> order;
    int repeats = 0;
    int remaining = -2;
    RunOnDispatcherThread([&] {
        QEventLoop loop;
        QTimer::singleShot(30, [&] { order.push_back("30"); });
        QTimer::singleShot(0, [&] { order.push_back("0"); });
        QTimer::singleShot(10, [&] { order.push_back("10"); });
        QTimer repeating;
        repeating.setInterval(2);
        QObject::connect(&repeating, &QTimer::timeout, [&] {
            if (++repeats == 5)
                repeating.stop(); // unregistered while its own event is delivered
        });
        repeating.start();
        QTimer later;
        later.setSingleShot(true);
        later.start(60000);
        remaining = later.remainingTime();
        QTimer::singleShot(80, &loop, &QEventLoop::quit);
        loop.exec();
    });
    EXPECT_EQ(order, (std::vector<std::string>{"0", "10", "30"}));
    EXPECT_EQ(repeats, 5);
    EXPECT_GT(remaining, 50000);
    EXPECT_LE(remaining, 60000);
}

TEST(ThreadEventDispatcher, PostedEventsAndQuitFromAnotherThreadEndAWaitAtOnce) {
    std::atomic<QEventLoop*> running = nullptr;
    std::atomic<bool> ran = false;
    std::atomic<bool> endedByQuit = false;
    std::atomic<bool> deleted = false;
    auto dispatcher = platform::ThreadEventDispatcher::Create();
    ASSERT_TRUE(dispatcher);
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        QEventLoop loop;
        auto* doomed = new QObject;
        QObject::connect(doomed, &QObject::destroyed, [&] { deleted = true; });
        doomed->deleteLater();
        running = &loop;
        endedByQuit = RunLoop(loop, 15000);
    }));
    ASSERT_TRUE(StartAndAwait(*thread, std::move(dispatcher), running));
    // Nothing is due on that thread for seconds: only the wake-up can bring these in.
    QMetaObject::invokeMethod(running.load(), [&] { ran = true; });
    QMetaObject::invokeMethod(running.load(), "quit", Qt::QueuedConnection);
    ASSERT_TRUE(thread->wait(10000));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(endedByQuit) << "the loop waited for its own timer";
    EXPECT_TRUE(deleted) << "a deferred delete was never carried out";
}

TEST(ThreadEventDispatcher, SocketNotifiersFollowReadinessHangUpsAndClosedHandles) {
    int reads = 0;
    int writes = 0;
    bool sawHangUp = false;
    bool closedOneDisabled = false;
    int spins = 0;
    RunOnDispatcherThread([&] {
        SocketPair pair;
        QEventLoop loop;
        QSocketNotifier reader(pair.fds[0], QSocketNotifier::Read);
        QSocketNotifier writer(pair.fds[0], QSocketNotifier::Write);
        QObject::connect(&writer, &QSocketNotifier::activated, [&] {
            ++writes;
            writer.setEnabled(false); // a writable socket stays so: once is enough
            ::write(pair.fds[1], "ab", 2);
        });
        QObject::connect(&reader, &QSocketNotifier::activated, [&] {
            ++reads;
            char buffer[8];
            const ssize_t got = ::read(pair.fds[0], buffer, sizeof buffer);
            if (got > 0) {
                ::close(pair.fds[1]); // the peer goes: the next notice is the hang-up
                pair.fds[1] = -1;
            } else {
                sawHangUp = true;
                reader.setEnabled(false);
                loop.quit();
            }
        });
        EXPECT_TRUE(RunLoop(loop, 10000));

        // A notifier left on over a handle closed under it is switched off instead of spinning.
        SocketPair other;
        QSocketNotifier stale(other.fds[0], QSocketNotifier::Read);
        ::close(other.fds[0]);
        other.fds[0] = -1;
        QTimer counter;
        QObject::connect(&counter, &QTimer::timeout, [&] { ++spins; });
        counter.start(0);
        QEventLoop second;
        RunLoop(second, 50);
        closedOneDisabled = !stale.isEnabled();
    });
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(reads, 2);
    EXPECT_TRUE(sawHangUp);
    EXPECT_TRUE(closedOneDisabled);
    EXPECT_GT(spins, 0) << "the loop stopped running its timers";
}

TEST(ThreadEventDispatcher, ANotifierDeletedByAnEarlierOneInTheSamePassIsNotToldAfterwards) {
    int firstCalls = 0;
    bool secondCalled = false;
    RunOnDispatcherThread([&] {
        SocketPair a;
        SocketPair b;
        ::write(a.fds[1], "x", 1);
        ::write(b.fds[1], "x", 1);
        QEventLoop loop;
        std::unique_ptr<QSocketNotifier> second;
        QSocketNotifier first(a.fds[0], QSocketNotifier::Read);
        QObject::connect(&first, &QSocketNotifier::activated, [&] {
            ++firstCalls;
            first.setEnabled(false);
            second.reset();
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
        });
        // Registered after the first, so told after it: both are ready in the same pass.
        second = std::make_unique<QSocketNotifier>(b.fds[0], QSocketNotifier::Read);
        QObject::connect(second.get(), &QSocketNotifier::activated, [&] { secondCalled = true; });
        RunLoop(loop, 10000);
    });
    EXPECT_EQ(firstCalls, 1);
    EXPECT_FALSE(secondCalled) << "a notifier was told after its deletion";
}

namespace {

// Counts the events posted to it; lives on the dispatcher's thread, counted from any.
class Counter : public QObject {
public:
    std::atomic<int> seen = 0;

protected:
    void customEvent(QEvent*) override { seen.fetch_add(1, std::memory_order_release); }
};

} // namespace

// Posts that race the thread's taking of the last wake-up: a post that lands while the counter is
// being read must still wake the next poll, or it waits there with nothing else due.
TEST(ThreadEventDispatcher, EveryPostFromAnotherThreadIsDeliveredPromptly) {
    constexpr int kRounds = 3000;
    constexpr int kBurst = 16;
    constexpr int kPromptMs = 500;
    auto dispatcher = platform::ThreadEventDispatcher::Create();
    ASSERT_TRUE(dispatcher);
    std::atomic<Counter*> target = nullptr;
    std::atomic<bool> stop = false;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        Counter counter;
        target = &counter;
        // Slower than the bound below, so that a lost wake-up still fails the test, but it lets
        // the stop through then.
        QTimer rescue;
        rescue.start(1000);
        QEventLoop loop;
        while (!stop.load())
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    }));
    ASSERT_TRUE(StartAndAwait(*thread, std::move(dispatcher), target));
    int posted = 0;
    int late = -1;
    for (int round = 0; round < kRounds && late < 0; ++round) {
        // Several at once, so that some land while an earlier one's wake-up is taken.
        for (int i = 0; i < kBurst; ++i, ++posted)
            QCoreApplication::postEvent(target.load(), new QEvent(QEvent::User));
        QElapsedTimer waited;
        waited.start();
        while (target.load()->seen.load(std::memory_order_acquire) < posted)
            if (waited.elapsed() > kPromptMs) {
                late = round;
                break;
            }
    }
    EXPECT_EQ(late, -1) << "a post was not delivered within " << kPromptMs << " ms";
    // Stopped from its own thread, so that nothing is posted to the counter once it may be gone.
    QMetaObject::invokeMethod(target.load(), [&] { stop = true; });
    ASSERT_TRUE(thread->wait(10000));
}

// A repeating timer is due again one interval after each firing; loose bounds, as a loaded
// machine delays timers but never makes one fire faster.
TEST(ThreadEventDispatcher, ARepeatingTimerFiresOncePerInterval) {
    int fired = 0;
    RunOnDispatcherThread([&] {
        QEventLoop loop;
        QTimer repeating;
        repeating.setInterval(20);
        QObject::connect(&repeating, &QTimer::timeout, [&] { ++fired; });
        repeating.start();
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
    });
    EXPECT_GE(fired, 3) << "the timer was not armed again";
    EXPECT_LE(fired, 11) << "the timer fired without waiting out its interval";
}

// A writer blocked on a full pipe learns that its reader went: the error is news for a write
// notifier too, or the writer would wait for room that never comes.
TEST(ThreadEventDispatcher, AWriteNotifierOnAFullPipeIsToldWhenItsReaderCloses) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    const std::string block(65536, 'x');
    while (::write(fds[1], block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    bool told = false;
    RunOnDispatcherThread([&] {
        QEventLoop loop;
        QSocketNotifier writer(fds[1], QSocketNotifier::Write);
        QObject::connect(&writer, &QSocketNotifier::activated, [&] {
            told = true;
            writer.setEnabled(false);
            loop.quit();
        });
        QTimer::singleShot(20, [&] {
            ::close(fds[0]);
            fds[0] = -1;
        });
        RunLoop(loop, 5000);
    });
    EXPECT_TRUE(told);
    ::close(fds[1]);
}
