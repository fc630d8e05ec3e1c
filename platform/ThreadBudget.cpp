#include "platform/ThreadBudget.h"

#include "platform/Thread.h"
#include "platform/ThreadEvents.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

static_assert(ThreadBudget::kSpareDescriptors == TThread::kReservedDescriptors);

std::unique_ptr<ThreadEventDispatcher> ThreadBudget::MakeEventSource() {
    if (!RoomForAnotherThread())
        return nullptr;
    std::unique_ptr<ThreadEventDispatcher> events = ThreadEventDispatcher::Create();
    while (!events && (errno == EMFILE || errno == ENFILE) && !spares_.empty()) {
        ::close(spares_.back());
        spares_.pop_back();
        events = ThreadEventDispatcher::Create();
    }
    return events;
}

// Under an address-space limit (`ulimit -v`) every thread's stack counts against it, and a
// connection costs a thread. The toolkit does not survive an allocation that fails, so the
// threads stop short of the limit and leave the last stretch to the threads already running.
bool ThreadBudget::RoomForAnotherThread() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return true;
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true; // out of descriptors: the thread's event source decides
    char text[64] = {};
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return true;
    const unsigned long long used =
        std::strtoull(text, nullptr, 10) * static_cast<unsigned long long>(::getpagesize());
    return used + TThread::kStackSize + kAddressSpaceReserve <= limit.rlim_cur;
}

void ThreadBudget::FillSpares() {
    while (static_cast<int>(spares_.size()) < kSpareDescriptors) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        spares_.push_back(fd);
    }
}

} // namespace platform
