#pragma once

#include "net/WSocket.h"
#include "platform/ThreadPump.h"

#include <cstdint>
#include <string>

// What the socket object's waits share (ReadLine, Flush, Wait), inside the net folder only.
namespace wsocket {

// Longest block of a wait between two looks at what it waits for. Events end it early; the bound
// only keeps a wait from sleeping past its own deadline or a change no event announces.
inline constexpr int kWaitSliceMs = 250;

// Milliseconds left until a deadline of the 32-bit tick; negative once it has passed.
inline int RemainingMs(uint32_t deadline) {
    return static_cast<int>(static_cast<int32_t>(deadline - platform::TickCount()));
}

// Shows the wait object for a wait and hides it (stopping it first, for Flush) however the wait
// ends.
class ShownWait {
public:
    ShownWait(TWait* wait, int32_t seconds, bool stopAtEnd) : wait_(wait), stopAtEnd_(stopAtEnd) {
        wait_->SetCaption(std::to_string(seconds));
        wait_->Show();
    }
    ~ShownWait() {
        if (stopAtEnd_)
            wait_->Stop();
        wait_->Hide();
    }
    ShownWait(const ShownWait&) = delete;
    ShownWait& operator=(const ShownWait&) = delete;

private:
    TWait* wait_;
    bool stopAtEnd_;
};

} // namespace wsocket
