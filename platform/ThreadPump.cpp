#include "platform/ThreadPump.h"

#include "platform/SocketEvents.h"
#include "platform/WorkerPool.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <mutex>
#include <utility>

namespace platform {

namespace {

// Socket notifications delivered on this thread; lets a pump tell an interrupted pass that did
// work from an idle one.
thread_local unsigned tDeliveries = 0;
// Pumps and waits of this layer running on this thread, and the first exception a handler raised
// inside them, waiting to be rethrown once the toolkit's frames are left.
thread_local int tPumpDepth = 0;
thread_local std::exception_ptr tPendingError;

std::mutex gDisplayMutex;
std::function<void(const std::string&)> gDisplay; // guarded by gDisplayMutex

// Waits in a row that ended on this thread's own notices alone, without a look at the transport;
// after kMaxQuickWaits of them a wait makes a full pass.
thread_local int tQuickWaits = 0;
constexpr int kMaxQuickWaits = 16;

// A pump stops after this many passes even when sources keep reporting work, so that a timer or
// a notifier that is always ready cannot hold the caller forever.
constexpr int kMaxPumpPasses = 64;

std::string Describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception in a socket event handler";
    }
}

void DisplayUnhandled(const std::exception_ptr& error) {
    const std::string text = Describe(error);
    std::function<void(const std::string&)> display;
    {
        const std::lock_guard<std::mutex> lock(gDisplayMutex);
        display = gDisplay;
    }
    if (display)
        display(text);
    else
        qWarning("%s", text.c_str());
}

class PumpScope {
public:
    PumpScope() { ++tPumpDepth; }
    ~PumpScope() { --tPumpDepth; }
    PumpScope(const PumpScope&) = delete;
    PumpScope& operator=(const PumpScope&) = delete;
    static void RethrowPending() {
        if (tPendingError)
            std::rethrow_exception(std::exchange(tPendingError, nullptr));
    }
};

} // namespace

void CountDelivery() {
    ++tDeliveries;
}

void RelayHandlerError(std::exception_ptr error) {
    if (tPumpDepth == 0)
        DisplayUnhandled(error);
    else if (!tPendingError)
        tPendingError = std::move(error);
}

bool HandlerErrorPending() {
    return static_cast<bool>(tPendingError);
}

namespace {

// Runs what this thread posted to itself, as a pump of this layer: a handler's exception comes out
// here.
void RunSelfPosts() {
    {
        const PumpScope scope;
        RunSelfPostedNotices();
    }
    PumpScope::RethrowPending();
}

} // namespace

void PumpThreadEvents() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    {
        const PumpScope scope;
        tQuickWaits = 0;
        for (int pass = 0; pass < kMaxPumpPasses && !tPendingError; ++pass) {
            RunSelfPostedNotices();
            if (tPendingError)
                break;
            const unsigned before = tDeliveries;
            // An interrupted pass answers false although it delivered: the counter tells.
            const bool worked =
                dispatcher->processEvents(QEventLoop::AllEvents) || tDeliveries != before;
            if (!worked && QueuedSelfPosts() == 0)
                break;
        }
    }
    PumpScope::RethrowPending();
}

void WaitThreadEvents(int maxMs) {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    if (QueuedSelfPosts() != 0 && ++tQuickWaits < kMaxQuickWaits) {
        // What this thread posted to itself has arrived: running it ends the wait. The transport
        // is looked at by the next full pass, which comes at the latest after a few of these.
        RunSelfPosts();
        return;
    }
    if (maxMs > 0 && QueuedSelfPosts() == 0) {
        const PumpScope scope;
        const BlockingScope blocking;
        QTimer bound;
        bound.setSingleShot(true);
        bound.setTimerType(Qt::PreciseTimer);
        bound.start(maxMs);
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    }
    PumpThreadEvents();
}

void PumpThreadEventsBriefly() {
    if (++tQuickWaits >= kMaxQuickWaits || !QAbstractEventDispatcher::instance()) {
        PumpThreadEvents();
        return;
    }
    RunSelfPosts();
}

void ProcessApplicationEvents() {
    {
        const PumpScope scope;
        RunSelfPostedNotices();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    PumpScope::RethrowPending();
}

void SetSocketErrorDisplay(std::function<void(const std::string&)> display) {
    const std::lock_guard<std::mutex> lock(gDisplayMutex);
    gDisplay = std::move(display);
}

std::uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace platform
