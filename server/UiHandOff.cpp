#include "server/UiHandOff.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimerEvent>

#include <deque>
#include <mutex>

// What workers and the UI thread share. The receiver is set while the owner lives; clearing it
// under the lock is what makes a late Post safe.
struct UiHandOff::Sender::Shared {
    std::mutex mutex;
    std::deque<std::function<void()>> calls; // guarded by mutex
    QObject* receiver = nullptr;             // guarded by mutex
    // A wake-up is posted, or the coalescing timer runs: a Post need not wake the UI thread.
    bool wakePending = false; // guarded by mutex

    int RunQueued() {
        std::deque<std::function<void()>> due;
        {
            const std::lock_guard lock(mutex);
            due.swap(calls);
        }
        for (auto& call : due) {
            try {
                call();
            } catch (...) {
                // A failing update must not unwind through the event loop nor stop the others.
            }
        }
        return static_cast<int>(due.size());
    }
};

// Lives on the UI thread: takes the wake-ups, and keeps looking for kCoalesceMs after each.
class UiHandOff::Waker : public QObject {
public:
    explicit Waker(Sender::Shared& shared) : shared_(shared) {}

protected:
    void customEvent(QEvent*) override {
        shared_.RunQueued();
        if (!timer_.isActive())
            timer_.start(kCoalesceMs, this);
    }
    void timerEvent(QTimerEvent*) override {
        if (shared_.RunQueued() > 0)
            return;
        const std::lock_guard lock(shared_.mutex);
        if (shared_.calls.empty()) {
            shared_.wakePending = false;
            timer_.stop();
        }
    }

private:
    Sender::Shared& shared_;
    QBasicTimer timer_;
};

void UiHandOff::Sender::Post(std::function<void()> call) const {
    const std::lock_guard lock(shared_->mutex);
    if (!shared_->receiver)
        return;
    shared_->calls.push_back(std::move(call));
    if (!std::exchange(shared_->wakePending, true))
        QCoreApplication::postEvent(shared_->receiver, new QEvent(QEvent::User));
}

UiHandOff::UiHandOff()
    : shared_(std::make_shared<Sender::Shared>()), waker_(std::make_unique<Waker>(*shared_)) {
    shared_->receiver = waker_.get();
}

UiHandOff::~UiHandOff() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->receiver = nullptr;
        shared_->calls.clear();
    }
    // Wake-ups still queued for the waker go with it.
    waker_.reset();
}

int UiHandOff::RunPending() {
    return shared_->RunQueued();
}
