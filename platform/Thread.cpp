#include "platform/Thread.h"

#include <QCoreApplication>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace platform {
namespace {

enum class CallState { Queued, Running, Done, Cancelled };

// One lock and condition for every pending call into the UI thread, and for the count of
// running worker threads: both are touched rarely compared with the work they guard.
std::mutex gMutex;
std::condition_variable gChanged;
bool gShutdown = false; // guarded by gMutex
int gRunning = 0;       // guarded by gMutex
std::set<TThread*> gLive; // guarded by gMutex: the threads between Resume() and the end of run()

struct PendingCall {
    CallState state = CallState::Queued; // guarded by gMutex
};

} // namespace

bool RunOnUiThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<PendingCall>();
    {
        const std::lock_guard lock(gMutex);
        if (gShutdown)
            return false;
    }
    // `fn` stays valid: the caller does not return while the call is running.
    QMetaObject::invokeMethod(
        app,
        [call, &fn] {
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
            const std::lock_guard lock(gMutex);
            call->state = CallState::Done;
            gChanged.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(gMutex);
    gChanged.wait(lock, [&] {
        return call->state == CallState::Done || (gShutdown && call->state == CallState::Queued);
    });
    if (call->state == CallState::Done)
        return true;
    call->state = CallState::Cancelled;
    return false;
}

void PostToUiThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [fn = std::move(fn)] {
            {
                const std::lock_guard lock(gMutex);
                if (gShutdown)
                    return;
            }
            try {
                fn();
            } catch (...) {
                // As with the blocking kind: a failing UI step must not unwind the event loop.
            }
        },
        Qt::QueuedConnection);
}

void ShutdownUiCalls() {
    const std::lock_guard lock(gMutex);
    gShutdown = true;
    gChanged.notify_all();
}

void ResetUiCalls() {
    const std::lock_guard lock(gMutex);
    gShutdown = false;
}

TThread::TThread() { setStackSize(kStackSize); }

TThread::~TThread() { wait(); }

void TThread::Resume() {
    if (FreeOnTerminate)
        connect(this, &QThread::finished, this, &QObject::deleteLater);
    {
        const std::lock_guard lock(gMutex);
        ++gRunning;
        gLive.insert(this);
    }
    start();
}

void TThread::run() {
    try {
        Execute();
    } catch (...) {
        // Execute() owns its error handling; whatever escapes ends only this thread.
    }
    const std::lock_guard lock(gMutex);
    --gRunning;
    gLive.erase(this);
    gChanged.notify_all();
}

void TThread::TerminateAll() {
    const std::lock_guard lock(gMutex);
    for (TThread* thread : gLive)
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

} // namespace platform
