#include "platform/ThreadEvents.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace platform {

std::unique_ptr<ThreadEventDispatcher> ThreadEventDispatcher::Create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<ThreadEventDispatcher>(new ThreadEventDispatcher(fd));
}

ThreadEventDispatcher::ThreadEventDispatcher(int wakeFd) : wakeFd_(wakeFd) {}

ThreadEventDispatcher::~ThreadEventDispatcher() {
    ::close(wakeFd_);
}

bool ThreadEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    interrupted_.store(false, std::memory_order_relaxed);
    emit awake();
    QCoreApplication::sendPostedEvents();

    const bool withTimers = !flags.testFlag(QEventLoop::X11ExcludeTimers);
    const bool withNotifiers = !flags.testFlag(QEventLoop::ExcludeSocketNotifiers);
    int timeout = 0;
    if (flags.testFlag(QEventLoop::WaitForMoreEvents)) {
        timeout = withTimers ? msToNextTimer(Clock::now()) : -1;
        if (timeout != 0)
            emit aboutToBlock(); // what it posts ends the wait at once, through the wake-up
    }
    if (interrupted_.load(std::memory_order_relaxed))
        return false;

    // A handler below may run a nested pass, which then polls with a set of its own.
    PollSet polled = std::move(pollSet_);
    fillPollSet(polled, withNotifiers);
    int ready;
    do
        ready = ::poll(polled.fds.data(), polled.fds.size(), timeout);
    while (ready < 0 && errno == EINTR && timeout < 0);

    int events = 0;
    if (ready > 0 && (polled.fds[0].revents & POLLIN)) {
        takeWakeUp();
        ++events;
        QCoreApplication::sendPostedEvents();
    }
    if (ready > 0 && withNotifiers)
        events += activateNotifiers(polled);
    if (withTimers)
        events += activateTimers();
    pollSet_ = std::move(polled);
    return events > 0;
}

void ThreadEventDispatcher::fillPollSet(PollSet& set, bool withNotifiers) const {
    set.fds.clear();
    set.notifiers.clear();
    set.fds.push_back({wakeFd_, POLLIN, 0});
    if (!withNotifiers)
        return;
    for (QSocketNotifier* notifier : notifiers_) {
        const QSocketNotifier::Type type = notifier->type();
        const short wanted = type == QSocketNotifier::Read    ? POLLIN
                             : type == QSocketNotifier::Write ? POLLOUT
                                                              : POLLPRI;
        set.fds.push_back({static_cast<int>(notifier->socket()), wanted, 0});
        set.notifiers.push_back(notifier);
    }
}

// The counter goes first, the flag after it. Cleared first, the flag let a wake-up be written
// between the two, and the read took it: the flag then stayed set with nothing to read, and every
// later wakeUp() took it for pending and wrote nothing, so that posts to the thread waited for a
// timer or a socket for good. A post that comes between the read and the clearing wrote nothing
// either, but its event is already queued and the pass runs it right after this.
void ThreadEventDispatcher::takeWakeUp() {
    eventfd_t count = 0;
    ::eventfd_read(wakeFd_, &count);
    wakePending_.store(false, std::memory_order_release);
}

int ThreadEventDispatcher::activateNotifiers(const PollSet& polled) {
    std::vector<QSocketNotifier*> invalid;
    for (size_t i = 1; i < polled.fds.size(); ++i) {
        const short got = polled.fds[i].revents;
        QSocketNotifier* const notifier = polled.notifiers[i - 1];
        if (got & POLLNVAL) {
            invalid.push_back(notifier);
            continue;
        }
        // An error or hang-up is news for a reader and a writer alike, as a read or write then
        // says at once what happened.
        const QSocketNotifier::Type type = notifier->type();
        const bool fired = type == QSocketNotifier::Read    ? (got & (POLLIN | POLLHUP | POLLERR))
                           : type == QSocketNotifier::Write ? (got & (POLLOUT | POLLERR))
                                                            : (got & POLLPRI);
        if (fired && std::find(pending_.begin(), pending_.end(), notifier) == pending_.end())
            pending_.push_back(notifier);
    }
    // A closed handle would keep poll() returning at once: its notifier is switched off.
    for (QSocketNotifier* notifier : invalid) {
        qWarning("QSocketNotifier: Invalid socket %d, disabling...",
                 static_cast<int>(notifier->socket()));
        notifier->setEnabled(false);
    }
    int activated = 0;
    while (!pending_.empty()) {
        QSocketNotifier* const notifier = pending_.front();
        pending_.erase(pending_.begin());
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
        ++activated;
    }
    return activated;
}

int ThreadEventDispatcher::msToNextTimer(Clock::time_point now) const {
    int shortest = -1;
    for (const Timer& timer : timers_) {
        if (timer.firing)
            continue;
        if (timer.due <= now)
            return 0;
        // Rounded up: waking a little early would only poll again for nothing.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count();
        const int ms = static_cast<int>(std::min<long long>(left, 24 * 3600 * 1000));
        if (shortest < 0 || ms < shortest)
            shortest = ms;
    }
    return shortest;
}

// Each timer that was due when the pass began fires once, the earliest first; one re-armed or
// registered meanwhile waits for the next pass.
int ThreadEventDispatcher::activateTimers() {
    if (timers_.empty())
        return 0;
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<Clock::time_point, int>> due;
    for (const Timer& timer : timers_)
        if (!timer.firing && timer.due <= now)
            due.emplace_back(timer.due, timer.id);
    std::sort(due.begin(), due.end());
    const auto find = [this](int id) {
        return std::find_if(timers_.begin(), timers_.end(),
                            [id](const Timer& t) { return t.id == id; });
    };
    int fired = 0;
    for (const auto& [when, id] : due) {
        auto timer = find(id);
        if (timer == timers_.end() || timer->firing)
            continue; // unregistered, or re-entered, by an earlier one's handler
        const auto interval = std::chrono::milliseconds(timer->intervalMs);
        timer->due += interval;
        if (timer->due <= now)
            timer->due = now + interval; // a late timer does not fire to catch up
        timer->firing = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(timer->object, &event);
        ++fired;
        timer = find(id);
        if (timer != timers_.end())
            timer->firing = false;
    }
    return fired;
}

void ThreadEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    if (std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end())
        notifiers_.push_back(notifier);
}

void ThreadEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    std::erase(notifiers_, notifier);
    std::erase(pending_, notifier);
}

void ThreadEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                          QObject* object) {
    timers_.push_back({timerId, std::max<qint64>(interval, 0), timerType, object,
                       Clock::now() + std::chrono::milliseconds(interval)});
}

bool ThreadEventDispatcher::unregisterTimer(int timerId) {
    return std::erase_if(timers_, [timerId](const Timer& t) { return t.id == timerId; }) > 0;
}

bool ThreadEventDispatcher::unregisterTimers(QObject* object) {
    return std::erase_if(timers_, [object](const Timer& t) { return t.object == object; }) > 0;
}

QList<QAbstractEventDispatcher::TimerInfo>
ThreadEventDispatcher::registeredTimers(QObject* object) const {
    QList<TimerInfo> found;
    for (const Timer& timer : timers_)
        if (timer.object == object)
            found.append(TimerInfo(timer.id, static_cast<int>(timer.intervalMs), timer.type));
    return found;
}

int ThreadEventDispatcher::remainingTime(int timerId) {
    const auto timer = std::find_if(timers_.begin(), timers_.end(),
                                    [timerId](const Timer& t) { return t.id == timerId; });
    if (timer == timers_.end())
        return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(timer->due - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

void ThreadEventDispatcher::wakeUp() {
    if (!wakePending_.exchange(true, std::memory_order_acq_rel))
        ::eventfd_write(wakeFd_, 1);
}

void ThreadEventDispatcher::interrupt() {
    interrupted_.store(true, std::memory_order_relaxed);
    wakeUp();
}

} // namespace platform
