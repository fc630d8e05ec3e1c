#pragma once

#include "platform/UiCalls.h"

#include <QObject>

#include <atomic>
#include <climits>
#include <functional>

namespace platform {

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
