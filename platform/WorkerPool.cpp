#include "platform/WorkerPool.h"

#include "platform/Thread.h"
#include "platform/ThreadBudget.h"
#include "platform/ThreadEvents.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <linux/futex.h>
#include <memory>
#include <mutex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// This thread's own: set on a pool thread while it runs a worker, and how deep the worker is in
// its waits.
thread_local bool tRunsWorker = false;
thread_local int tBlockingDepth = 0;

} // namespace

// The operating-system threads under the workers. A thread takes the next waiting worker, runs
// it, and waits for another one up to its idle time (TThread::kIdleMs) before it ends.
class WorkerPool {
public:
    static WorkerPool& Instance() {
        static WorkerPool pool;
        return pool;
    }

    ~WorkerPool() {
        Wakes wakes;
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
            while (!sleepers_.empty())
                Hand(wakes);
        }
        Wake(wakes);
        watch_.notify_all();
        for (auto& thread : threads_)
            thread->wait();
    }

    // False when the worker could not be given a thread (no thread or no descriptor left for
    // its event source); it is then not queued.
    bool Submit(TThread* worker) {
        std::unique_lock lock(mutex_);
        queue_.push_back(worker);
        // Each queued worker has an idle thread set aside for it. Workers beyond those get a
        // thread of their own: waiting for a busy one could mean waiting out a silent peer's
        // idle limit.
        if (idle_ >= static_cast<int>(queue_.size())) {
            const Wakes wakes = Kick();
            lock.unlock();
            Wake(wakes);
            return true;
        }
        reapFinished();
        if (!StartThread()) {
            queue_.pop_back();
            return false;
        }
        return true;
    }

    // A worker is about to wait (for its peer, the UI thread, a module): another may run in its
    // place.
    void EnterBlocking() {
        std::unique_lock lock(mutex_);
        --active_;
        const Wakes wakes = Kick();
        lock.unlock();
        Wake(wakes);
    }
    void LeaveBlocking() {
        const std::lock_guard lock(mutex_);
        ++active_;
    }

    void SetIdleMs(int ms) {
        const std::lock_guard lock(mutex_);
        idleMs_ = ms;
    }

    int ThreadCount() {
        const std::lock_guard lock(mutex_);
        reapFinished();
        return static_cast<int>(threads_.size());
    }

private:
    WorkerPool() = default;

    // Called with the lock held.
    bool StartThread() {
        std::unique_ptr<ThreadEventDispatcher> events = budget_.MakeEventSource();
        if (!events)
            return false;
        auto thread = std::unique_ptr<QThread>(QThread::create([this] { Serve(); }));
        thread->setStackSize(TThread::kStackSize);
        thread->setEventDispatcher(events.get());
        thread->start();
        if (!thread->isRunning() && !thread->isFinished()) {
            // The system would not create it. A thread that never ran leaves its event source
            // to its maker: it goes after the thread object, which still points to it.
            thread.reset();
            return false;
        }
        events.release(); // the thread deletes it when it ends
        threads_.push_back(std::move(thread));
        // Counted idle from now on: it looks at the queue as soon as it runs.
        ++idle_;
        budget_.FillSpares();
        return true;
    }

    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!WaitForWork(lock)) {
                --idle_;
                return;
            }
            TThread* worker = queue_.front();
            queue_.pop_front();
            --idle_;
            ++active_;
            ++taken_;
            const bool othersWait = !queue_.empty();
            lock.unlock();
            // A worker that would at once wait (a connection whose request is still on its way)
            // goes behind the others once: by its next turn its input has usually arrived, and
            // this thread serves a ready one meanwhile instead of sleeping and waking for it.
            if (othersWait && !worker->deferred_ && !worker->ReadyToRun()) {
                worker->deferred_ = true;
                lock.lock();
                queue_.push_back(worker);
                --active_;
                ++idle_;
                continue;
            }
            tRunsWorker = true;
            const bool freeSelf = worker->RunExecute();
            tRunsWorker = false;
            // Counted idle again before the end is announced, so that a worker resumed right
            // after this one ended finds this thread instead of starting another.
            lock.lock();
            --active_;
            ++idle_;
            lock.unlock();
            worker->AnnounceEnd(freeSelf);
            // What the worker left for deletion on this thread goes with it, not with the next.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            lock.lock();
        }
    }

    // Called with mutex_ held. True when this thread is to take the queue's first worker; false
    // when it has had nothing to do for its idle time, or the pool stops. A thread that has just
    // finished a worker takes the next one without sleeping; a sleeping one runs only when woken
    // for a worker, or as the watch.
    bool WaitForWork(std::unique_lock<std::mutex>& lock) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleMs_);
        for (;;) {
            if (stopping_)
                return false;
            if (!queue_.empty())
                return true;
            Sleeper me;
            sleepers_.push_back(&me);
            ++sleeping_;
            lock.unlock();
            bool woken = me.Wait(&until);
            lock.lock();
            if (!woken && me.handed) {
                // Handed a wake-up as its time ran out: the waker releases it right after its
                // lock, and must find it still here.
                lock.unlock();
                woken = me.Wait(nullptr);
                lock.lock();
            }
            --sleeping_;
            if (!woken) {
                std::erase(sleepers_, &me);
                return !queue_.empty() && !stopping_;
            }
            if (stopping_)
                return false;
            --tokens_;
            if (std::exchange(watchWanted_, false) && Watch(lock))
                return true;
            until = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleMs_);
        }
    }

    // Called with mutex_ held. While the running workers use every runner, one idle thread
    // looks at the queue every kWatch: a worker that blocks without saying so (a slow disk, a
    // test's own wait) or runs for long without a wait (a fast peer taking a large file) must not
    // hold the queue up for longer than that. True when this thread is to take the queue's first
    // worker.
    bool Watch(std::unique_lock<std::mutex>& lock) {
        watching_ = true;
        unsigned seen = taken_;
        int quiet = 0;
        while (!stopping_ && quiet < 2) {
            watch_.wait_for(lock, kWatch, [&] { return stopping_ || watchTake_; });
            if (std::exchange(watchTake_, false) && !queue_.empty())
                break;
            if (queue_.empty()) {
                ++quiet;
            } else {
                quiet = 0;
                if (taken_ == seen) {
                    ReleaseQueue(); // nothing moved: the running workers are busy for long
                    break;
                }
            }
            seen = taken_;
        }
        watching_ = false;
        return !stopping_ && !queue_.empty();
    }

    // Called with mutex_ held, by the watch. Every queued worker gets a thread now, as if none
    // ran: this one takes the first, sleeping ones the others. Rare enough to wake them under the
    // lock.
    void ReleaseQueue() {
        const int others = static_cast<int>(queue_.size()) - 1 - AwakeIdle() - tokens_;
        Wakes wakes;
        for (int i = 0; i < others && sleeping_ > tokens_; ++i) {
            ++tokens_;
            Hand(wakes);
        }
        Wake(wakes);
    }

    int AwakeIdle() const { return idle_ - sleeping_ - (watching_ ? 1 : 0); }

    // A thread that waits for a wake-up of its own. The pool's lock is not what it sleeps on:
    // a thread woken through a condition variable takes the lock back marked as contended, and
    // its next release of it then costs a wake-up call into the kernel for nobody, once per
    // worker it is woken for.
    struct Sleeper {
        // Any thread: released once, by the thread that handed it a wake-up.
        void Release() {
            released.store(1, std::memory_order_release);
            ::syscall(SYS_futex, &released, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
        }
        // Its own thread: false when `until` (none: no limit) passed first.
        bool Wait(const std::chrono::steady_clock::time_point* until) {
            while (released.load(std::memory_order_acquire) == 0) {
                timespec left{};
                if (until) {
                    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        *until - std::chrono::steady_clock::now())
                                        .count();
                    if (ns <= 0)
                        return false;
                    left.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
                    left.tv_nsec = static_cast<long>(ns % 1'000'000'000);
                }
                ::syscall(SYS_futex, &released, FUTEX_WAIT_PRIVATE, 0, until ? &left : nullptr,
                          nullptr, 0);
            }
            return true;
        }

        std::atomic<int> released = 0;
        bool handed = false;     // guarded by mutex_: taken off the list to be released
        Sleeper* next = nullptr; // the waker's, between its lock and the release
    };

    struct Wakes {
        Sleeper* sleepers = nullptr; // to release, linked through their `next`
        bool watch = false;
    };

    // Called with mutex_ held: the thread that went to sleep last is woken first, its cache the
    // warmest.
    void Hand(Wakes& wakes) {
        Sleeper* sleeper = sleepers_.back();
        sleepers_.pop_back();
        sleeper->handed = true;
        sleeper->next = wakes.sleepers;
        wakes.sleepers = sleeper;
    }

    // Called with mutex_ held: which sleeping threads to wake for queued workers. The workers
    // that run outside their waits are kept to about one per core: on a loaded server, threads
    // that take the next worker as they finish the last one serve it without a wake-up or a
    // context switch each, where waking a thread per connection cost more than the requests.
    Wakes Kick() {
        Wakes wakes;
        const int queued = static_cast<int>(queue_.size());
        while (queued > AwakeIdle() + tokens_) {
            if (active_ + AwakeIdle() + tokens_ >= runners_) {
                if (!watching_ && !watchWanted_ && sleeping_ > tokens_) {
                    watchWanted_ = true;
                    ++tokens_;
                    Hand(wakes);
                }
                break;
            }
            if (sleeping_ > tokens_) {
                ++tokens_;
                Hand(wakes);
            } else {
                if (watching_ && !watchTake_) {
                    watchTake_ = true;
                    wakes.watch = true;
                }
                break;
            }
        }
        return wakes;
    }

    // After the lock is given up: a thread woken while the waker still holds it would at once
    // block on it again.
    void Wake(const Wakes& wakes) {
        for (Sleeper* sleeper = wakes.sleepers; sleeper;) {
            // Read first: once released, the sleeper may be gone.
            Sleeper* const next = sleeper->next;
            sleeper->Release();
            sleeper = next;
        }
        if (wakes.watch)
            watch_.notify_one();
    }

    // Called with mutex_ held.
    void reapFinished() {
        std::erase_if(threads_, [](const std::unique_ptr<QThread>& t) { return t->isFinished(); });
    }

    static constexpr auto kWatch = std::chrono::milliseconds(5);
    const int runners_ = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));

    std::mutex mutex_;
    std::vector<Sleeper*> sleepers_; // guarded by mutex_: sleeping threads not handed a wake-up
    std::deque<TThread*> queue_;     // guarded by mutex_
    std::vector<std::unique_ptr<QThread>> threads_; // guarded by mutex_
    ThreadBudget budget_;                           // guarded by mutex_
    int idle_ = 0;             // guarded by mutex_: threads not running a worker
    int sleeping_ = 0;         // guarded by mutex_: idle threads that wait for a wake-up
    int active_ = 0;           // guarded by mutex_: threads running a worker outside its waits
    int tokens_ = 0;           // guarded by mutex_: wake-ups given and not yet taken
    unsigned taken_ = 0;       // guarded by mutex_: workers taken from the queue so far
    bool watching_ = false;    // guarded by mutex_: an idle thread keeps the watch
    bool watchWanted_ = false; // guarded by mutex_: the next woken thread keeps the watch
    bool watchTake_ = false;   // guarded by mutex_: the watch is to take a worker at once
    std::condition_variable watch_;
    bool stopping_ = false;         // guarded by mutex_
    int idleMs_ = TThread::kIdleMs; // guarded by mutex_
};

BlockingScope::BlockingScope() : counted_(tRunsWorker && tBlockingDepth == 0) {
    ++tBlockingDepth;
    if (counted_)
        WorkerPool::Instance().EnterBlocking();
}

BlockingScope::~BlockingScope() {
    --tBlockingDepth;
    if (counted_)
        WorkerPool::Instance().LeaveBlocking();
}

bool SubmitToPool(TThread* worker) {
    return WorkerPool::Instance().Submit(worker);
}

int PoolThreadCount() {
    return WorkerPool::Instance().ThreadCount();
}

void SetPoolIdleMs(int ms) {
    WorkerPool::Instance().SetIdleMs(ms);
}

} // namespace platform
