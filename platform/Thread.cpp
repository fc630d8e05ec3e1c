#include "platform/Thread.h"

#include "platform/ThreadEvents.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <linux/futex.h>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <sched.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {
namespace {

enum class CallState { Queued, Running, Done, Cancelled };

// One lock for every pending call into the UI thread and for the bookkeeping of running workers:
// each is held only for a few instructions. gChanged announces the end of workers; a call's
// completion wakes only the worker that waits for it (32 workers woken per call, of which one
// could go on, cost more than the calls themselves).
std::mutex gMutex;
std::condition_variable gChanged;
bool gShutdown = false; // guarded by gMutex
int gRunning = 0;       // guarded by gMutex
// The workers between Resume() and their end, linked through their own fields so that joining and
// leaving the list costs no allocation. Guarded by gMutex, with the links.
TThread* gLive = nullptr;

struct PendingCall {
    CallState state = CallState::Queued; // guarded by gMutex
    std::condition_variable changed;     // waited on with gMutex
};
std::set<PendingCall*> gWaiting; // guarded by gMutex: the calls a worker is waiting for

// This thread's own: set on a pool thread while it runs a worker, and how deep the worker is in
// its waits.
thread_local bool tRunsWorker = false;
thread_local int tBlockingDepth = 0;

} // namespace

// The operating-system threads under the workers. A thread takes the next waiting worker, runs
// it, and waits for another one up to TThread::kIdleMs before it ends.
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

    int ThreadCount() {
        const std::lock_guard lock(mutex_);
        reapFinished();
        return static_cast<int>(threads_.size());
    }

private:
    // Descriptors held back for the event sources of new threads: while the process has any
    // left, a connection already accepted can still be given a thread.
    static constexpr int kSpareDescriptors = TThread::kReservedDescriptors;
    // What the running threads may still allocate (buffers, the toolkit's own objects) once no
    // more threads are started under an address-space limit.
    static constexpr unsigned long long kAddressSpaceReserve = 32ull * 1024 * 1024;

    WorkerPool() = default;

    // Called with the lock held. The new thread's event source is made here, before the thread
    // exists, so that running out of descriptors only means that no thread is started.
    bool StartThread() {
        if (!RoomForAnotherThread())
            return false;
        std::unique_ptr<ThreadEventDispatcher> events = ThreadEventDispatcher::Create();
        while (!events && (errno == EMFILE || errno == ENFILE) && !spares_.empty()) {
            ::close(spares_.back());
            spares_.pop_back();
            events = ThreadEventDispatcher::Create();
        }
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
        FillSpares();
        return true;
    }

    // Under an address-space limit (`ulimit -v`) every thread's stack counts against it, and a
    // connection costs a thread. The toolkit does not survive an allocation that fails, so the
    // threads stop short of the limit and leave the last stretch to the threads already running.
    static bool RoomForAnotherThread() {
        rlimit limit{};
        if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return true;
        const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return true; // out of descriptors: the thread's event source decides
        char text[64] = {};
        const ssize_t got = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (got <= 0)
            return true;
        const unsigned long long used =
            std::strtoull(text, nullptr, 10) * static_cast<unsigned long long>(::getpagesize());
        return used + TThread::kStackSize + kAddressSpaceReserve <= limit.rlim_cur;
    }

    // Called with mutex_ held.
    void FillSpares() {
        while (static_cast<int>(spares_.size()) < kSpareDescriptors) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            spares_.push_back(fd);
        }
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
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(TThread::kIdleMs);
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
            until = std::chrono::steady_clock::now() + std::chrono::milliseconds(TThread::kIdleMs);
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
    std::vector<int> spares_;                       // guarded by mutex_
    int idle_ = 0;             // guarded by mutex_: threads not running a worker
    int sleeping_ = 0;         // guarded by mutex_: idle threads that wait for a wake-up
    int active_ = 0;           // guarded by mutex_: threads running a worker outside its waits
    int tokens_ = 0;           // guarded by mutex_: wake-ups given and not yet taken
    unsigned taken_ = 0;       // guarded by mutex_: workers taken from the queue so far
    bool watching_ = false;    // guarded by mutex_: an idle thread keeps the watch
    bool watchWanted_ = false; // guarded by mutex_: the next woken thread keeps the watch
    bool watchTake_ = false;   // guarded by mutex_: the watch is to take a worker at once
    std::condition_variable watch_;
    bool stopping_ = false; // guarded by mutex_
};

namespace {

// Calls into the UI thread wait in one queue of our own, in order. The toolkit's queue only
// carries a wake-up: its hand-over uses locks the thread checker cannot see, while this lock
// makes every call's hand-over visible.
//
// Calls that nobody waits for are coalesced: after a wake-up has run the queue, the next one is
// due only after kCoalesceMs, when a timer runs whatever arrived meanwhile. A busy server then
// wakes its UI thread a hundred times a second at most to delete the workers that ended, instead
// of once per request; a call somebody waits for still wakes it at once.
class UiCallQueue : public QObject {
public:
    static constexpr int kCoalesceMs = 10;

    static UiCallQueue& Instance() {
        // Never destroyed: workers may still queue calls while the program ends.
        static UiCallQueue* queue = [] {
            auto* q = new UiCallQueue;
            q->moveToThread(QCoreApplication::instance()->thread());
            return q;
        }();
        return *queue;
    }

    void Push(std::function<void()> call) {
        bool post = false;
        {
            const std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
            post = !std::exchange(wakePending_, true);
        }
        if (post)
            QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

    // A call that a worker waits for: runs as soon as the UI thread gets to it.
    void PushUrgent(std::function<void()> call) {
        {
            const std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

protected:
    void customEvent(QEvent*) override {
        RunQueued();
        // Pushes go on without waking the UI thread until the timer has looked again.
        if (!coalesce_.isActive())
            coalesce_.start(kCoalesceMs, this);
    }

    void timerEvent(QTimerEvent*) override {
        if (RunQueued() == 0) {
            const std::lock_guard lock(mutex_);
            if (calls_.empty()) {
                wakePending_ = false;
                coalesce_.stop();
            }
        }
    }

private:
    UiCallQueue() = default;

    size_t RunQueued() {
        std::deque<std::function<void()>> calls;
        {
            const std::lock_guard lock(mutex_);
            calls.swap(calls_);
        }
        for (auto& call : calls)
            call();
        return calls.size();
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_; // guarded by mutex_
    // Set while a wake-up is posted or the coalescing timer runs: pushes then need not wake.
    bool wakePending_ = false; // guarded by mutex_
    QBasicTimer coalesce_;     // UI thread only
};

bool shuttingDown() {
    const std::lock_guard lock(gMutex);
    return gShutdown;
}

} // namespace

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

bool RunOnUiThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread()) {
        fn();
        return true;
    }
    if (shuttingDown())
        return false;
    auto call = std::make_shared<PendingCall>();
    // `fn` stays valid: the caller does not return while the call is running.
    UiCallQueue::Instance().PushUrgent([call, &fn] {
        {
            const std::lock_guard lock(gMutex);
            if (call->state != CallState::Queued)
                return;
            call->state = CallState::Running;
        }
        try {
            fn();
        } catch (...) {
            // A failing UI step must not unwind through the event loop; the worker goes on.
        }
        {
            const std::lock_guard lock(gMutex);
            call->state = CallState::Done;
        }
        // Outside the lock, or the woken worker would at once block on it again; the call
        // record lives on in this closure.
        call->changed.notify_one();
    });
    const BlockingScope blocking;
    std::unique_lock lock(gMutex);
    gWaiting.insert(call.get());
    call->changed.wait(lock, [&] {
        return call->state == CallState::Done || (gShutdown && call->state == CallState::Queued);
    });
    gWaiting.erase(call.get());
    if (call->state == CallState::Done)
        return true;
    call->state = CallState::Cancelled;
    return false;
}

void PostToUiThread(std::function<void()> fn) {
    if (!QCoreApplication::instance())
        return;
    UiCallQueue::Instance().Push([fn = std::move(fn)] {
        if (shuttingDown())
            return;
        try {
            fn();
        } catch (...) {
            // As with the blocking kind: a failing UI step must not unwind the event loop.
        }
    });
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

void ShutdownUiCalls() {
    const std::lock_guard lock(gMutex);
    gShutdown = true;
    for (PendingCall* call : gWaiting)
        call->changed.notify_one();
    gChanged.notify_all();
}

void ResetUiCalls() {
    const std::lock_guard lock(gMutex);
    gShutdown = false;
}

TThread::TThread() = default;

TThread::~TThread() {
    if (started_ && !FreeOnTerminate)
        wait();
}

bool TThread::Resume() {
    if (started_)
        return true;
    started_ = true;
    {
        const std::lock_guard lock(gMutex);
        ++gRunning;
        LinkLive();
    }
    if (WorkerPool::Instance().Submit(this))
        return true;
    const std::lock_guard lock(gMutex);
    --gRunning;
    UnlinkLive();
    started_ = false;
    return false;
}

void TThread::LinkLive() {
    liveNext_ = gLive;
    if (gLive)
        gLive->livePrev_ = this;
    gLive = this;
}

void TThread::UnlinkLive() {
    (livePrev_ ? livePrev_->liveNext_ : gLive) = liveNext_;
    if (liveNext_)
        liveNext_->livePrev_ = livePrev_;
    livePrev_ = liveNext_ = nullptr;
}

bool TThread::wait(unsigned long ms) {
    if (!started_)
        return true;
    std::unique_lock lock(gMutex);
    const auto done = [this] { return finished_; };
    if (ms == ULONG_MAX) {
        gChanged.wait(lock, done);
        return true;
    }
    return gChanged.wait_for(lock, std::chrono::milliseconds(ms), done);
}

bool TThread::RunExecute() {
    try {
        Execute();
    } catch (...) {
        // Execute() owns its error handling; whatever escapes ends only this worker.
    }
    // Read before the end is announced: after that the owner may delete the object.
    return FreeOnTerminate;
}

void TThread::AnnounceEnd(bool freeSelf) {
    {
        const std::lock_guard lock(gMutex);
        --gRunning;
        UnlinkLive();
        finished_ = true;
        gChanged.notify_all();
    }
    // Deleted by the thread that owns the object, from its own event processing: on the UI
    // thread (where the server creates its workers) right in this call, saving one more event.
    if (freeSelf)
        UiCallQueue::Instance().Push([this] {
            if (thread() == QThread::currentThread())
                delete this;
            else
                deleteLater();
        });
}

void TThread::TerminateAll() {
    const std::lock_guard lock(gMutex);
    for (TThread* thread = gLive; thread; thread = thread->liveNext_)
        thread->Terminate();
}

int TThread::RunningCount() {
    const std::lock_guard lock(gMutex);
    return gRunning;
}

bool TThread::WaitForAll(int ms) {
    std::unique_lock lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::milliseconds(ms), [] { return gRunning == 0; });
}

int TThread::PooledThreadCount() {
    return WorkerPool::Instance().ThreadCount();
}

} // namespace platform
