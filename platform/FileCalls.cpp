#include "platform/FileCalls.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileHandle::~FileHandle() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool IsRegularFile(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int CreateUnnamedFile(const std::string& folder) {
    return OpenFile(folder.c_str(), O_TMPFILE | O_WRONLY, 0644);
}

namespace {

// The process's file mode mask, read without changing it: umask() both reads and sets it, which
// would race with files other threads create meanwhile.
mode_t CurrentUmask() {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return 022;
    unsigned mask = 022;
    char line[128];
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "Umask: %o", &mask) == 1)
            break;
    std::fclose(status);
    return static_cast<mode_t>(mask);
}

} // namespace

int CreateHiddenFile(const std::string& folder, const char* prefix, std::string& name) {
    std::string pattern = folder + "/." + prefix + "XXXXXX";
    const int fd = RetryOnInterrupt([&] { return ::mkostemp(pattern.data(), O_CLOEXEC); });
    if (fd < 0)
        return -1;
    // mkostemp makes it 0600; published, it is to be what an unnamed file gets: 0644 less the
    // umask, as for any file the user makes.
    ::fchmod(fd, 0644 & ~CurrentUmask());
    name = std::move(pattern);
    return fd;
}

bool NameUnnamedFile(int fd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool AddName(const std::string& existing, const std::string& name) {
    return ::link(existing.c_str(), name.c_str()) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool LockSharedNow(int fd) {
    return RetryOnInterrupt([&] { return ::flock(fd, LOCK_SH | LOCK_NB); }) == 0;
}

std::optional<int64_t> RegularFileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info.st_size;
}

int OpenFile(const char* name, int flags, mode_t mode) {
    return RetryOnInterrupt([&] { return ::open(name, flags | O_CLOEXEC, mode); });
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = RetryOnInterrupt([&] { return ::write(fd, data, size); });
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t ReadFully(int fd, char* data, size_t size, off_t offset) {
    return ReadFullyWith(
        [fd](char* buffer, size_t count, off_t at) { return ::pread(fd, buffer, count, at); }, data,
        size, offset);
}

} // namespace platform
