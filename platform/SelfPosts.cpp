#include "platform/SelfPosts.h"

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

} // namespace platform
