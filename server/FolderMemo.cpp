#include "server/FolderMemo.h"

#include "platform/FileCalls.h"

namespace foldermemo {

bool Stamp::operator==(const Stamp& other) const {
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return device == other.device && inode == other.inode && same(modified, other.modified) &&
           same(changed, other.changed);
}

std::optional<Stamp> StampOf(const std::string& folder) {
    struct stat info {};
    if (platform::RetryOnInterrupt([&] { return ::stat(folder.c_str(), &info); }) != 0 ||
        !S_ISDIR(info.st_mode))
        return std::nullopt;
    return Stamp{info.st_dev, info.st_ino, info.st_mtim, info.st_ctim};
}

} // namespace foldermemo
