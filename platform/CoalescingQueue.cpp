#include "platform/CoalescingQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>

#include <utility>

namespace platform {

bool CoalescingQueue::Push(std::function<void()> call) {
    return Add(std::move(call), false);
}

bool CoalescingQueue::PushUrgent(std::function<void()> call) {
    return Add(std::move(call), true);
}

bool CoalescingQueue::Add(std::function<void()> call, bool urgent) {
    // The wake-up is posted under the lock: Close() clears the waker under it, so a push never
    // reaches a waker that is gone.
    const std::lock_guard lock(mutex_);
    if (!waker_)
        return false;
    calls_.push_back(std::move(call));
    // An urgent call wakes the receiver on its own and leaves the coalescing as it was.
    if (urgent || !std::exchange(wakePending_, true))
        QCoreApplication::postEvent(waker_, new QEvent(QEvent::User));
    return true;
}

int CoalescingQueue::RunQueued() {
    std::deque<std::function<void()>> due;
    {
        const std::lock_guard lock(mutex_);
        due.swap(calls_);
    }
    for (auto& call : due) {
        try {
            call();
        } catch (...) {
            // A failing call must not unwind through the event loop nor stop the others.
        }
    }
    return static_cast<int>(due.size());
}

void CoalescingQueue::Open(QObject* waker) {
    const std::lock_guard lock(mutex_);
    waker_ = waker;
}

void CoalescingQueue::Close() {
    const std::lock_guard lock(mutex_);
    waker_ = nullptr;
    calls_.clear();
}

bool CoalescingQueue::GoQuiet() {
    const std::lock_guard lock(mutex_);
    if (!calls_.empty())
        return false;
    wakePending_ = false;
    return true;
}

void CoalescingWaker::customEvent(QEvent*) {
    queue_.RunQueued();
    // Pushes go on without waking the receiver until the timer has looked again.
    if (!timer_.isActive())
        timer_.start(intervalMs_, this);
}

void CoalescingWaker::timerEvent(QTimerEvent*) {
    if (queue_.RunQueued() == 0 && queue_.GoQuiet())
        timer_.stop();
}

} // namespace platform
