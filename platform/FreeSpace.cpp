#include "platform/FreeSpace.h"

#include "platform/FileCalls.h"

#include <sys/statvfs.h>

namespace platform {

std::optional<uint64_t> FreeSpace(const std::string& folder) {
    struct statvfs info {};
    if (RetryOnInterrupt([&] { return ::statvfs(folder.c_str(), &info); }) != 0)
        return std::nullopt;
    const uint64_t blocks = info.f_bavail;
    const uint64_t size = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    // No real file system is that large; a wrapped product must not read as little room.
    if (size != 0 && blocks > UINT64_MAX / size)
        return UINT64_MAX;
    return blocks * size;
}

} // namespace platform
