#pragma once

#include <QObject>

#include <atomic>
#include <climits>
#include <functional>

namespace platform {

// Runs `fn` on the UI thread (the application object's thread) and blocks until it has run.
// Returns false, without running it, once ShutdownUiCalls() was called: a worker must never
// hang on a UI thread that no longer runs its loop. Runs `fn` at once when called on the UI thread.
bool RunOnUiThread(const std::function<void()>& fn);
// Queues `fn` to run on the UI thread and returns at once. Calls from one thread run in the order
// they were queued, also relative to RunOnUiThread calls of that thread. Dropped after
// ShutdownUiCalls(), like the blocking kind.
void PostToUiThread(std::function<void()> fn);
// Called once at start-up, before any worker runs: the allocator keeps one arena per core instead
// of up to eight. Every worker thread otherwise gets an arena of its own, and each arena keeps the
// memory its short-lived thread gave back, so a flood of connections left the program's resident
// memory megabytes higher for good.
void LimitAllocatorArenas();
// Called once at start-up, on the UI thread: it and every thread it starts afterwards (the
// pooled threads under the workers) are scheduled as batch work. Every request crosses threads
// (the listener on the UI thread wakes a pooled thread for it), and under load each such wake-up
// took the core from the thread running at that moment, usually one serving another request. As
// batch work a woken thread waits for its turn instead: the running one finishes its request
// and the UI thread accepts connections in larger batches. The UI thread still gets its full
// share of the processor; only its wake-ups no longer preempt other threads. False when the
// system refused it (the program then runs as before).
bool FavourThroughput();

// The toolkit's shared thread pool runs parts of large image operations, such as the window's
// drawing. Its threads are started here, while descriptors are plenty, and kept for good: each
// thread it started later would need a descriptor for its event source, and without one the
// toolkit ends the whole process, which a server out of descriptors must survive.
void KeepToolkitPoolThreads();
// Marks a wait whose end somebody waits for in turn (a connection's request still on its way):
// woken from it, a thread run as batch work would queue behind the running threads for up to a
// time slice, so for the span of such a wait it is scheduled normally and runs as soon as its
// input is there. Does nothing on a thread that is not batch work.
class PromptWakeScope {
public:
    PromptWakeScope();
    ~PromptWakeScope();
    PromptWakeScope(const PromptWakeScope&) = delete;
    PromptWakeScope& operator=(const PromptWakeScope&) = delete;

private:
    const bool switched_;
};
// Marks a stretch in which the calling worker waits (for its peer, the UI thread, a module): the
// pool then lets another worker run in its place. Does nothing on threads that run no worker.
class BlockingScope {
public:
    BlockingScope();
    ~BlockingScope();
    BlockingScope(const BlockingScope&) = delete;
    BlockingScope& operator=(const BlockingScope&) = delete;

private:
    const bool counted_;
};

// Called on the UI thread at exit: pending and later calls return false without running.
void ShutdownUiCalls();
// For tests that start and stop the program's pieces more than once in one process.
void ResetUiCalls();

// The thread class workers derive from: created suspended, started by Resume(), optionally
// deleted (on the thread that owns the object) once Execute() has returned. Each object is one
// thread of control from Resume() to its end; underneath, the operating-system threads are kept
// for a short while and reused, because the server starts one worker per connection and creating
// a thread costs more than most requests.
class TThread : public QObject {
public:
    // The platform's ordinary stack: module calls run on these threads, and ordinary module code
    // (a regular expression, a recursive parser) needs it. Reserved, not committed, so an idle
    // thread costs address space rather than memory; the pool keeps its threads, so making them
    // is paid once.
    static constexpr unsigned kStackSize = 8 * 1024 * 1024;
    // Descriptors kept in reserve for the event sources of new threads, from the first worker on.
    static constexpr int kReservedDescriptors = 2;
    // How long an idle operating-system thread waits for the next worker before it ends.
    static constexpr int kIdleMs = 2000;

    TThread();
    // Waits for Execute() to return when the thread was started.
    ~TThread() override;

    // False when no thread could be found or started for it (the system is out of threads or
    // descriptors, or the address space nearly full): the object then never runs and stays with
    // its owner.
    bool Resume();
    // Set before Resume(): the object deletes itself (on its owning thread) when it has run.
    bool FreeOnTerminate = false;
    // Blocks until Execute() has returned (or `ms` passed); true when it has.
    bool wait(unsigned long ms = ULONG_MAX);

    // Asks Execute() to stop at its next check.
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }

    // Asks every running thread of this class to stop (program exit).
    static void TerminateAll();
    // Threads of this class still running in the process.
    static int RunningCount();
    // Blocks until no thread of this class runs, `ms` milliseconds at most; true when none runs.
    static bool WaitForAll(int ms);
    // Operating-system threads kept for workers, running or idle.
    static int PooledThreadCount();

protected:
    virtual void Execute() = 0;
    // False when Execute() would begin by waiting (for input that has not arrived): the pool may
    // then run other waiting workers first, once. Called on a pool thread before Execute(), which
    // then sees whatever it did (it may take the input that has arrived, for instance).
    virtual bool ReadyToRun() { return true; }
    // The blocking call into the UI thread; false when it did not run (program exit).
    bool Synchronize(const std::function<void()>& fn) { return RunOnUiThread(fn); }

private:
    friend class WorkerPool;
    // Runs Execute(); returns whether the object deletes itself afterwards.
    bool RunExecute();
    // Tells waiters that the worker has ended, and deletes it when it asked for that.
    void AnnounceEnd(bool freeSelf);
    // Called with the module's lock held.
    void LinkLive();
    void UnlinkLive();

    std::atomic<bool> terminated_ = false;
    bool started_ = false;  // owner's thread only
    bool deferred_ = false; // the pool's: set by the thread that put the worker back in the queue
    bool finished_ = false; // guarded by the module's lock
    TThread* livePrev_ = nullptr; // guarded by the module's lock: the list of running workers
    TThread* liveNext_ = nullptr;
};

} // namespace platform
