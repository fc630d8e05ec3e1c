#include "platform/SelfPosts.h"

#include "platform/SocketEvents.h"
#include "platform/ThreadPump.h"

#include <QCoreApplication>

namespace platform {

thread_local std::deque<SelfPosts::Entry> SelfPosts::queue;
thread_local QAbstractEventDispatcher* SelfPosts::hooked = nullptr;

QEvent::Type SelfPosts::RunEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void SelfPosts::HookDispatcher() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || dispatcher == hooked)
        return;
    hooked = dispatcher;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, &Schedule);
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, &Schedule);
}

void SelfPosts::Schedule() {
    for (const Entry& e : queue)
        if (e.endpoint) {
            QCoreApplication::postEvent(e.endpoint, new QEvent(RunEvent()));
            return;
        }
}

void SelfPosts::Drop(const SocketEndpoint* endpoint) {
    for (Entry& e : queue)
        if (e.endpoint == endpoint)
            e.endpoint = nullptr;
    while (!queue.empty() && !queue.back().endpoint)
        queue.pop_back();
    while (!queue.empty() && !queue.front().endpoint)
        queue.pop_front();
}

// Runs on the thread of the endpoints, as their own dispatch does.
bool SelfPosts::Run() {
    bool ran = false;
    for (size_t n = queue.size(); n > 0 && !queue.empty(); --n) {
        const Entry e = queue.front();
        queue.pop_front();
        if (!e.endpoint || e.generation != e.endpoint->generation_)
            continue; // its endpoint went or released the connection since
        ran = true;
        e.endpoint->Deliver(e.handle, e.events, e.error);
        if (HandlerErrorPending())
            break;
    }
    return ran;
}

int QueuedSelfPosts() {
    return static_cast<int>(SelfPosts::queue.size());
}

bool RunSelfPostedNotices() {
    return SelfPosts::Run();
}

} // namespace platform
