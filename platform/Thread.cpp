#include "platform/Thread.h"

#include "platform/UiCalls.h"
#include "platform/WorkerPool.h"

#include <QThread>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {
namespace {

// The bookkeeping of running workers, held only for a few instructions; gChanged announces the
// end of workers.
std::mutex gMutex;
std::condition_variable gChanged;
int gRunning = 0; // guarded by gMutex
// The workers between Resume() and their end, linked through their own fields so that joining and
// leaving the list costs no allocation. Guarded by gMutex, with the links.
TThread* gLive = nullptr;

} // namespace

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
    if (SubmitToPool(this))
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
        PostCleanUpToUiThread([this] {
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
    return PoolThreadCount();
}

} // namespace platform
