#include "shell/RxTrayTimer.h"

TTimerThread::TTimerThread(std::chrono::milliseconds interval, bool suspended)
    : interval_(interval), suspended_(suspended) {}

TTimerThread::~TTimerThread() {
    Stop();
    if (thread_.joinable())
        thread_.join();
}

void TTimerThread::Start() {
    thread_ = std::thread([this] {
        Execute();
        emit Ended();
    });
}

void TTimerThread::SetInterval(std::chrono::milliseconds interval) {
    const std::lock_guard lock(mutex_);
    interval_ = interval;
}

void TTimerThread::Suspend() {
    setAndWake(suspended_, true);
}

void TTimerThread::Resume() {
    setAndWake(suspended_, false);
}

bool TTimerThread::Suspended() const {
    const std::lock_guard lock(mutex_);
    return suspended_;
}

void TTimerThread::Stop() {
    setAndWake(stopping_, true);
}

void TTimerThread::FrameDone() {
    setAndWake(framePending_, false);
}

void TTimerThread::setAndWake(bool& flag, bool value) {
    const std::lock_guard lock(mutex_);
    flag = value;
    wake_.notify_all();
}

bool TTimerThread::idle() const {
    return suspended_ || framePending_;
}

void TTimerThread::Execute() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (idle()) {
            wake_.wait(lock, [this] { return stopping_ || !idle(); });
            continue;
        }
        // A suspension or a stop during the sleep cancels this frame.
        if (wake_.wait_for(lock, interval_, [this] { return stopping_ || idle(); }))
            continue;
        framePending_ = true;
        lock.unlock();
        emit FrameDue();
        lock.lock();
    }
}
