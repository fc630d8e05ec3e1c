#include "platform/Tuning.h"

#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <thread>

namespace platform {

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void LimitAllocatorArenas() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    ::mallopt(M_ARENA_MAX, static_cast<int>(cores));
}

namespace {

// This thread's scheduling policy, asked once (a pooled thread serves many workers) and kept up
// to date by the changes made here; -1 until asked.
thread_local int tPolicy = -1;

int ownPolicy() {
    if (tPolicy < 0)
        tPolicy = ::sched_getscheduler(0);
    return tPolicy;
}

bool setOwnPolicy(int policy) {
    const sched_param normal{};
    if (::sched_setscheduler(0, policy, &normal) != 0)
        return false;
    tPolicy = policy;
    return true;
}

} // namespace

bool FavourThroughput() {
    return setOwnPolicy(SCHED_BATCH);
}

void KeepToolkitPoolThreads() {
    // Enough for the drawing to gain from; a large machine's every core would be idle threads.
    constexpr int kMostThreads = 4;
    QThreadPool* const pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(std::min(pool->maxThreadCount(), kMostThreads));
    pool->setExpiryTimeout(-1);
    const int wanted = pool->maxThreadCount();
    // Each task holds its thread until all have one, so that every thread is started now. The
    // state is shared: a task may still be on its way out when this returns.
    struct Gathering {
        std::mutex mutex;
        std::condition_variable all;
        int arrived = 0; // guarded by mutex
    };
    const auto gathering = std::make_shared<Gathering>();
    constexpr auto kLongest = std::chrono::seconds(2);
    for (int i = 0; i < wanted; ++i)
        pool->start([gathering, wanted, kLongest] {
            std::unique_lock lock(gathering->mutex);
            ++gathering->arrived;
            gathering->all.notify_all();
            gathering->all.wait_for(lock, kLongest, [&] { return gathering->arrived >= wanted; });
        });
    std::unique_lock lock(gathering->mutex);
    gathering->all.wait_for(lock, kLongest, [&] { return gathering->arrived >= wanted; });
}

PromptWakeScope::PromptWakeScope()
    : switched_(ownPolicy() == SCHED_BATCH && setOwnPolicy(SCHED_OTHER)) {}

PromptWakeScope::~PromptWakeScope() {
    if (switched_)
        setOwnPolicy(SCHED_BATCH);
}

} // namespace platform
