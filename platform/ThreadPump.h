#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// How a thread runs its socket events itself: the pumps and waits of the socket layer, and the
// relay that carries a handler's exception out of the toolkit's frames. Everything here works on
// the calling thread's own events.
namespace platform {

// Runs every event waiting for the calling thread and returns; never blocks. An exception raised
// by a handler during the pump ends it and leaves it here, outside the toolkit's frames, which
// must not be unwound through.
void PumpThreadEvents();
// Blocks on the calling thread's event source until something arrives or maxMs pass, then runs
// what is waiting. Ends early as soon as an event comes: this is how the layer waits without
// spinning.
void WaitThreadEvents(int maxMs);
// Runs the notices this thread queued to itself; every few calls (shared with the waits that end
// on such notices) it makes the full pass of PumpThreadEvents instead. For a loop that pumps after
// every small step and only needs the transport looked at now and then.
void PumpThreadEventsBriefly();
// The application's own step that processes pending events (used by single-threaded waits);
// rethrows a handler's exception like PumpThreadEvents.
void ProcessApplicationEvents();
// Where a handler's exception goes when no pump or wait of this layer is running on the thread
// (the main loop): the shell shows it to the user. Without one it is logged.
void SetSocketErrorDisplay(std::function<void(const std::string&)> display);
// A monotonic millisecond tick, 32 bits, for deadlines.
std::uint32_t TickCount();

// The exception relay, for the endpoints' handler calls. Handlers run inside the toolkit's event
// dispatch, which must not be unwound by an exception: the first one is kept and rethrown by the
// pump or wait running on this thread, or shown (SetSocketErrorDisplay) when none runs.
void RelayHandlerError(std::exception_ptr error);
// A handler's exception waits to be rethrown: the pass that runs handlers stops.
bool HandlerErrorPending();
// Counts a handler call, so that a pump tells a pass that did work from an idle one.
void CountDelivery();

} // namespace platform
