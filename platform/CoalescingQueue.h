#pragma once

#include <QBasicTimer>
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace platform {

// Calls from any thread that run on one receiving thread, in the order they were pushed. The
// receiving thread is not woken once per call: after a wake-up it takes whatever arrives for
// another interval (kCoalesceMs unless the waker is given another) before it sleeps again, so a
// busy server wakes it a hundred times a second at most. A call somebody waits for may still wake
// it at once (PushUrgent).
//
// The queue's own lock carries every call across, not the toolkit's: the toolkit's queue only
// carries the wake-up, its hand-over uses locks the thread checker cannot see, and this lock
// makes every call's hand-over visible.
//
// The queue may outlive the receiving thread's waker: Close() drops what is pending and every
// later push, so a worker that still holds the queue can never reach a waker that is gone.
class CoalescingQueue {
public:
    static constexpr int kCoalesceMs = 10;

    CoalescingQueue() = default;
    CoalescingQueue(const CoalescingQueue&) = delete;
    CoalescingQueue& operator=(const CoalescingQueue&) = delete;

    // Any thread. Dropped (false) when the queue has no waker.
    bool Push(std::function<void()> call);
    // Any thread: a call somebody waits for, which wakes the receiving thread at once.
    bool PushUrgent(std::function<void()> call);

    // The receiving thread: runs what was pushed so far, each call on its own (one that throws
    // stops no other). Returns how many ran.
    int RunQueued();

    // The waker's side, on the receiving thread.
    void Open(QObject* waker);
    void Close();
    // True when nothing arrived since the last run: the next push wakes the receiver again.
    bool GoQuiet();

private:
    bool Add(std::function<void()> call, bool urgent);

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_; // guarded by mutex_
    QObject* waker_ = nullptr;                // guarded by mutex_: null once closed
    // A wake-up is posted, or the coalescing timer runs: a push need not wake the receiver.
    bool wakePending_ = false; // guarded by mutex_
};

// Lives on the receiving thread: takes the wake-ups, and keeps looking for an interval after
// each. Opens the queue when made and closes it when it goes; both on the receiving thread.
class CoalescingWaker : public QObject {
public:
    explicit CoalescingWaker(CoalescingQueue& queue, int intervalMs = CoalescingQueue::kCoalesceMs)
        : queue_(queue), intervalMs_(intervalMs) {
        queue_.Open(this);
    }
    ~CoalescingWaker() override { queue_.Close(); }

protected:
    void customEvent(QEvent*) override;
    void timerEvent(QTimerEvent*) override;

private:
    CoalescingQueue& queue_;
    const int intervalMs_;
    QBasicTimer timer_; // the receiving thread's
};

} // namespace platform
