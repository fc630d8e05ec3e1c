#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/types.h>

// The system calls on files that the server and the helpers share, each retried when a signal
// interrupts it: a signal handled elsewhere in the program must never fail a request.
namespace platform {

// Calls `call` again for as long as it fails with EINTR; returns its last result.
template <typename Call> auto RetryOnInterrupt(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// open() with close-on-exec; -1 and errno on failure.
int OpenFile(const char* name, int flags, mode_t mode = 0);
// Writes all of `data`; false when a write failed or wrote nothing.
bool WriteAll(int fd, const char* data, size_t size);
// Reads up to `size` bytes from `offset`; fewer only at the end of the file or on an error.
size_t ReadFully(int fd, char* data, size_t size, off_t offset);

} // namespace platform
