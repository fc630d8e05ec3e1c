#include "platform/UiCalls.h"

#include "platform/CoalescingQueue.h"
#include "platform/WorkerPool.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace platform {
namespace {

enum class CallState { Queued, Running, Done, Cancelled };

// One lock for every pending call into the UI thread, held only for a few instructions. A call's
// completion wakes only the worker that waits for it (32 workers woken per call, of which one
// could go on, cost more than the calls themselves).
std::mutex gMutex;
bool gShutdown = false; // guarded by gMutex

struct PendingCall {
    CallState state = CallState::Queued; // guarded by gMutex
    std::condition_variable changed;     // waited on with gMutex
};
std::set<PendingCall*> gWaiting; // guarded by gMutex: the calls a worker is waiting for

// Calls into the UI thread wait in one queue of our own, in order; those nobody waits for are
// coalesced, so that a busy server wakes its UI thread a hundred times a second at most to delete
// the workers that ended, instead of once per request.
CoalescingQueue& uiQueue() {
    // Never destroyed: workers may still queue calls while the program ends.
    static CoalescingQueue* const queue = [] {
        auto* q = new CoalescingQueue;
        auto* waker = new CoalescingWaker(*q);
        waker->moveToThread(QCoreApplication::instance()->thread());
        return q;
    }();
    return *queue;
}

bool shuttingDown() {
    const std::lock_guard lock(gMutex);
    return gShutdown;
}

} // namespace

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
    uiQueue().PushUrgent([call, &fn] {
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
    uiQueue().Push([fn = std::move(fn)] {
        if (shuttingDown())
            return;
        try {
            fn();
        } catch (...) {
            // As with the blocking kind: a failing UI step must not unwind the event loop.
        }
    });
}

void PostCleanUpToUiThread(std::function<void()> fn) {
    uiQueue().Push(std::move(fn));
}

void ShutdownUiCalls() {
    const std::lock_guard lock(gMutex);
    gShutdown = true;
    for (PendingCall* call : gWaiting)
        call->changed.notify_one();
}

void ResetUiCalls() {
    const std::lock_guard lock(gMutex);
    gShutdown = false;
}

} // namespace platform
