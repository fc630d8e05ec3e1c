#pragma once

namespace platform {

// Bytes of a TCP connection that the kernel still holds for sending (not yet acknowledged by
// the peer); 0 when the handle is invalid or the call fails.
int UnsentBytes(int handle);

} // namespace platform
