#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

// An open descriptor, closed when the object goes, whatever way the code using it ends.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle& operator=(FileHandle&&) = delete;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// open() with close-on-exec; -1 and errno on failure.
int OpenFile(const char* name, int flags, mode_t mode = 0);
// True for a regular file (links followed), false for anything else or nothing.
bool IsRegularFile(const std::string& name);
// A new file without a name in `folder`, open for writing (mode 0644 once named); -1 and errno
// (EOPNOTSUPP or EISDIR where the file system has no unnamed files) on failure.
int CreateUnnamedFile(const std::string& folder);
// A new hidden file in `folder` under a fresh name (".<prefix>XXXXXX"; mode 0644 less the umask,
// like an unnamed file), open for writing; the name is stored in `name`. -1 and errno on failure.
int CreateHiddenFile(const std::string& folder, const char* prefix, std::string& name);
// Gives the open unnamed file `fd` the name `name`, never replacing an existing one (then false,
// errno EEXIST).
bool NameUnnamedFile(int fd, const std::string& name);
// Gives the file `existing` a second name, `name`, never replacing one (then false, errno EEXIST).
bool AddName(const std::string& existing, const std::string& name);
// Renames `from` to `to`, never replacing one (then false, errno EEXIST): for file systems without
// links.
bool RenameNoReplace(const std::string& from, const std::string& to);
// A shared lock without waiting: false while another holds the file exclusively, as a writer
// that is not done does.
bool LockSharedNow(int fd);
// The length of an open regular file; nullopt for anything else (a folder, a pipe) or a failure.
std::optional<int64_t> RegularFileSize(int fd);
// Writes all of `data`; false when a write failed or wrote nothing.
bool WriteAll(int fd, const char* data, size_t size);
// Reads up to `size` bytes from `offset`; fewer only at the end of the file or on an error.
size_t ReadFully(int fd, char* data, size_t size, off_t offset);
// ReadFully's loop over `readAt(buffer, count, offset)`, which reads like pread(): a read may take
// fewer bytes than asked for, and the next one goes on from where it stopped.
template <typename ReadAt>
size_t ReadFullyWith(ReadAt readAt, char* data, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = RetryOnInterrupt(
            [&] { return readAt(data + done, size - done, offset + static_cast<off_t>(done)); });
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace platform
