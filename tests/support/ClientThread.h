#pragma once

// Clients of a server that runs on the test's own thread: its listener and the workers' hand-over
// need that thread's event loop, so the client runs on a thread of its own while the loop goes on.

#include "support/LoopbackClient.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace testnet {

// Runs `work` on a client thread while this thread runs its event loop, and returns what it
// returned. A client still busy after `ms` fails the test; its result is then awaited without the
// loop.
template <typename F> auto whileServing(F work, int ms = 60000) {
    auto future = std::async(std::launch::async, std::move(work));
    if (!testwait::Until(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            ms))
        ADD_FAILURE() << "the client did not finish within " << ms << " ms";
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
