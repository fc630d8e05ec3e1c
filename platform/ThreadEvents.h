#pragma once

#include <QAbstractEventDispatcher>

#include <atomic>
#include <chrono>
#include <memory>
#include <poll.h>
#include <vector>

namespace platform {

// The event dispatcher of the pooled threads: socket notifiers, timers, posted events and the
// wake-up from other threads, over poll() and one event counter.
//
// The toolkit's own dispatcher makes its wake-up descriptor on the new thread as it starts, and
// ends the whole process when the descriptor table is full. This one is made before the thread
// is started, by the thread that starts it, so that a full table means only that no thread is
// started (a connection waits or is refused) while the process goes on.
class ThreadEventDispatcher final : public QAbstractEventDispatcher {
public:
    // Null (errno set) when no descriptor could be had for the wake-up.
    static std::unique_ptr<ThreadEventDispatcher> Create();
    ~ThreadEventDispatcher() override;
    ThreadEventDispatcher(const ThreadEventDispatcher&) = delete;
    ThreadEventDispatcher& operator=(const ThreadEventDispatcher&) = delete;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    // Any thread.
    void wakeUp() override;
    void interrupt() override;

private:
    using Clock = std::chrono::steady_clock;

    struct Timer {
        int id;
        qint64 intervalMs;
        Qt::TimerType type;
        QObject* object;
        Clock::time_point due;
        bool firing = false; // its event is being delivered: it does not fire again inside it
    };

    explicit ThreadEventDispatcher(int wakeFd);

    // Milliseconds until the next timer is due: -1 when none runs, 0 when one is due.
    int msToNextTimer(Clock::time_point now) const;
    // What one poll() looks at: the wake-up first, then the enabled notifiers in registration
    // order, each with its own entry.
    struct PollSet {
        std::vector<pollfd> fds;
        std::vector<QSocketNotifier*> notifiers; // beside fds[1...]
    };
    void fillPollSet(PollSet& set, bool withNotifiers) const;
    void takeWakeUp();
    int activateTimers();
    int activateNotifiers(const PollSet& polled);

    const int wakeFd_;
    std::atomic<bool> wakePending_ = false; // any thread: a wake-up written and not yet taken
    std::atomic<bool> interrupted_ = false; // any thread

    // The owning thread's alone, like every notifier and timer it holds.
    std::vector<Timer> timers_;
    std::vector<QSocketNotifier*> notifiers_;
    // Notifiers found ready and not yet told; one that goes away is taken off at once.
    std::vector<QSocketNotifier*> pending_;
    PollSet pollSet_; // kept between passes for its memory; a nested pass makes its own
};

} // namespace platform
