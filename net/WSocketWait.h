#pragma once

#include "platform/SocketEvents.h"

#include <cstdint>

// What the socket object's waits share (ReadLine, Flush, Wait), inside the net folder only.
namespace wsocket {

// Longest block of a wait between two looks at what it waits for. Events end it early; the bound
// only keeps a wait from sleeping past its own deadline or a change no event announces.
inline constexpr int kWaitSliceMs = 250;

// Milliseconds left until a deadline of the 32-bit tick; negative once it has passed.
inline int RemainingMs(uint32_t deadline) {
    return static_cast<int>(static_cast<int32_t>(deadline - platform::TickCount()));
}

} // namespace wsocket
