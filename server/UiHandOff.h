#pragma once

#include "platform/CoalescingQueue.h"

#include <functional>
#include <memory>

// How workers tell the UI thread what happened (a connection counted, a line to log) without ever
// waiting for it. Calls run on the UI thread in the order they were posted, coalesced as
// platform::CoalescingQueue describes, here for kCoalesceMs.
//
// It is the one throttle of the counts the window shows: the listener's request count takes it
// too, and the window sets its panels as each batch runs, so they repaint 40 times a second at
// most and show a count within 40 ms of its change.
//
// Owned by the UI thread's server context. A worker keeps a Sender: posting stays safe after the
// owner is gone, and calls that have not run by then are dropped.
class UiHandOff {
public:
    static constexpr int kCoalesceMs = 25;

    class Sender {
    public:
        struct Shared;
        // Any thread.
        void Post(std::function<void()> call) const;

    private:
        friend class UiHandOff;
        explicit Sender(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
        std::shared_ptr<Shared> shared_;
    };

    // On the UI thread.
    UiHandOff();
    ~UiHandOff();
    UiHandOff(const UiHandOff&) = delete;
    UiHandOff& operator=(const UiHandOff&) = delete;

    Sender sender() const { return Sender(shared_); }
    // Runs what has been posted so far, now (UI thread): for a caller that must see every earlier
    // call's effect before it goes on. Returns how many ran.
    int RunPending();

private:
    class Waker;
    std::shared_ptr<Sender::Shared> shared_;
    std::unique_ptr<Waker> waker_;
};
