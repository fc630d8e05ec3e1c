#pragma once

#include "platform/SocketEvents.h"

#include <QAbstractEventDispatcher>
#include <QEvent>

#include <deque>

namespace platform {

// Notifications that self-pumped endpoints of this thread queued to themselves, oldest first.
// Only the owning thread touches its list; an endpoint that goes away blanks its entries.
struct SelfPosts {
    struct Entry {
        SocketEndpoint* endpoint;
        unsigned generation;
        int handle, events, error;
    };
    static thread_local std::deque<Entry> queue;
    static thread_local QAbstractEventDispatcher* hooked;

    // The event that makes an endpoint run the list from a toolkit loop.
    static QEvent::Type RunEvent();
    // Runs the entries that were queued when it started; later ones wait for the next run, so
    // that a handler that keeps posting cannot hold the thread.
    static bool Run();
    // A toolkit loop that processes events or is about to block first gets an event that runs
    // the list, so that the notifications never wait for a pump of this layer that may not come.
    static void HookDispatcher();
    static void Schedule();
    // The blanked entries at either end go at once: a thread whose connections all end without
    // a pump after their last notice (a server's worker whose peer has gone when it closes) never
    // runs its list, which otherwise kept two entries per connection for good, and each endpoint
    // that went had to look through all of them.
    static void Drop(const SocketEndpoint* endpoint);
};

} // namespace platform
