#pragma once

// Clients of a server that runs on the test's own thread: the server's workers wait for that
// thread's event loop, so the client runs on a thread of its own while the loop goes on.

#include "platform/Thread.h"
#include "support/LoopbackClient.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace testnet {

// Runs on this thread what other threads handed it without waiting (such calls may be held back
// a moment to run together): calls run in order, so once one queued now from another thread has
// run, so have all queued before it.
inline bool runHandedOverCalls() {
    std::atomic<bool> ran = false;
    std::thread([&ran] { platform::PostToUiThread([&ran] { ran = true; }); }).join();
    return testwait::Until([&] { return ran.load(); });
}

// Runs `work` on a client thread while this thread runs its event loop, and returns what it
// returned. Whatever the workers queued for this thread before they replied has run by then. A
// client still busy after `ms` fails the test; its result is then awaited without the loop.
template <typename F> auto whileServing(F work, int ms = 60000) {
    auto future = std::async(std::launch::async, std::move(work));
    if (!testwait::Until(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            ms))
        ADD_FAILURE() << "the client did not finish within " << ms << " ms";
    runHandedOverCalls();
    return future.get();
}

// Each request on a connection of its own, read to its end; the replies in order.
inline std::vector<std::string> fetchAllWhileServing(uint16_t port,
                                                     std::vector<std::string> requests) {
    return whileServing([port, requests = std::move(requests)] {
        std::vector<std::string> replies;
        for (const std::string& request : requests)
            replies.push_back(client::exchange(port, {request}));
        return replies;
    });
}

// One request and its whole reply.
inline std::string fetchWhileServing(uint16_t port, const std::string& request) {
    return fetchAllWhileServing(port, {request}).front();
}

} // namespace testnet
