#pragma once

#include <memory>
#include <vector>

namespace platform {

class ThreadEventDispatcher;

// Whether the pool may start another thread, and the event source that thread needs, made before
// the thread exists: running out of descriptors or address space then only means that no thread
// is started (a connection waits or is refused), never that the process ends.
//
// Owned by the pool and used under its lock only.
class ThreadBudget {
public:
    // Descriptors held back for the event sources of new threads: while the process has any
    // left, a connection already accepted can still be given a thread.
    static constexpr int kSpareDescriptors = 2;
    // What the running threads may still allocate (buffers, the toolkit's own objects) once no
    // more threads are started under an address-space limit.
    static constexpr unsigned long long kAddressSpaceReserve = 32ull * 1024 * 1024;

    ThreadBudget() = default;
    ThreadBudget(const ThreadBudget&) = delete;
    ThreadBudget& operator=(const ThreadBudget&) = delete;

    // The event source for one more thread; null (errno set when descriptors ran out) when no
    // thread may start. Gives up the spare descriptors when that is what it takes.
    std::unique_ptr<ThreadEventDispatcher> MakeEventSource();
    // Takes the spare descriptors back after a thread was started, as far as the system allows.
    void FillSpares();

private:
    static bool RoomForAnotherThread();

    std::vector<int> spares_;
};

} // namespace platform
