// Starting threads while the process is out of descriptors. Each of these runs in a child process
// of its own: it lowers the descriptor limit and takes every descriptor left.
#include "platform/Thread.h"
#include "platform/Tuning.h"
#include "platform/WorkerPool.h"

#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class HeldThread : public platform::TThread {
public:
    explicit HeldThread(std::atomic<bool>& release) : release_(release) {}

protected:
    void Execute() override {
        const platform::BlockingScope waiting;
        while (!release_)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    std::atomic<bool>& release_;
};

// Another thread of the process that takes every descriptor that comes free, as a busy server's
// accepts and file opens do. A bare thread: the sanitizers check calls through class tables with
// the help of a descriptor, which this thread never leaves them.
class DescriptorThief {
public:
    DescriptorThief() { ::pthread_create(&thread_, nullptr, &DescriptorThief::Take, this); }
    ~DescriptorThief() {
        stop_ = true;
        ::pthread_join(thread_, nullptr);
        for (const int fd : taken_)
            ::close(fd);
    }

private:
    static void* Take(void* self) {
        auto* const thief = static_cast<DescriptorThief*>(self);
        while (!thief->stop_)
            if (const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0)
                thief->taken_.push_back(fd);
        return nullptr;
    }

    std::atomic<bool> stop_ = false;
    std::vector<int> taken_; // the thief's own until it is joined
    pthread_t thread_{};
};

void LowerDescriptorLimit() {
    const rlimit limit{128, 128};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
}

// Workers that each hold their thread, resumed while another thread takes every descriptor: each
// either gets a thread or is refused, and the process goes on.
void ResumeWorkersWhileDescriptorsAreTaken() {
    LowerDescriptorLimit();
    std::atomic<bool> release = false;
    std::vector<std::unique_ptr<HeldThread>> workers;
    workers.push_back(std::make_unique<HeldThread>(release));
    if (!workers.back()->Resume())
        std::_Exit(3); // the first one has descriptors to spare
    int refused = 0;
    {
        const DescriptorThief thief;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int i = 0; i < 20; ++i) {
            workers.push_back(std::make_unique<HeldThread>(release));
            refused += workers.back()->Resume() ? 0 : 1;
        }
    }
    // Only with descriptors back: the sanitizers' own checks need one now and then.
    release = true;
    for (auto& worker : workers)
        if (!worker->wait(10000))
            std::_Exit(4);
    std::_Exit(refused > 0 ? 0 : 5); // with every descriptor taken, some must have been refused
}

// Work for the toolkit's pool while every descriptor is taken, as the window's drawing gives it
// on a server out of descriptors.
void RunToolkitPoolTasksWithoutDescriptors() {
    platform::KeepToolkitPoolThreads();
    LowerDescriptorLimit();
    std::vector<int> held;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        held.push_back(fd);
    std::atomic<int> done = 0;
    constexpr int kTasks = 16;
    for (int i = 0; i < kTasks; ++i)
        QThreadPool::globalInstance()->start([&done] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ++done;
        });
    for (int waited = 0; done < kTasks && waited < 10000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::_Exit(done == kTasks ? 0 : 6);
}

} // namespace

TEST(ThreadDescriptors, WorkersResumedWhileDescriptorsRunOutAreRefusedNotFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ResumeWorkersWhileDescriptorsAreTaken(), ::testing::ExitedWithCode(0), "");
}

TEST(ThreadDescriptors, TheToolkitsPoolRunsItsWorkWithoutNewDescriptors) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunToolkitPoolTasksWithoutDescriptors(), ::testing::ExitedWithCode(0), "");
}
