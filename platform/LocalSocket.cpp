#include "platform/LocalSocket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kSocketName = "/koru.sock";
// An answer is one short line; anything longer is no program of ours.
constexpr size_t kMaxAnswer = 256;
// How often a start looks again whether the lock has become free.
constexpr auto kLockRetry = std::chrono::milliseconds(10);
constexpr int kBacklog = 8;

template <typename Call> auto retryOnSignal(Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

bool isPrivateFolder(const struct stat& st, uid_t uid) {
    return S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & 07777) == 0700;
}

// tmpBase/koru-<uid>: ours and a real folder, narrowed to 0700 through its own handle so that
// nothing can swap a link in between the check and the change.
std::string fallbackFolder(const std::string& tmpBase, uid_t uid) {
    const std::string folder = tmpBase + "/koru-" + std::to_string(uid);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    const int fd = retryOnSignal(
        [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0)
        return {};
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
    if (ok && (st.st_mode & 07777) != 0700)
        ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok ? folder : std::string();
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int newSocket() {
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

int msUntil(LocalClock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - LocalClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

LocalAsk connectFailure(const std::string& path, int error) {
    if (error == ENOENT)
        return LocalAsk::Nobody;
    struct stat st {};
    // A refused connect names a socket nobody listens on, or a file that is no socket at all.
    if (error == ECONNREFUSED && ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        return LocalAsk::Stale;
    return LocalAsk::Unusable;
}

// Reads until a whole line, the peer's end, or the deadline.
LocalReply readLine(int fd, LocalClock::time_point deadline) {
    std::string buffer;
    for (;;) {
        const size_t end = buffer.find('\n');
        if (end != std::string::npos)
            return {LocalAsk::Answered, buffer.substr(0, end)};
        if (buffer.size() > kMaxAnswer)
            return {LocalAsk::Unusable, {}};
        pollfd ready{fd, POLLIN, 0};
        const int left = msUntil(deadline);
        if (left == 0 || retryOnSignal([&] { return ::poll(&ready, 1, left); }) <= 0)
            return {LocalAsk::NoAnswer, {}};
        bool ended = false;
        buffer += ReceiveNow(fd, kMaxAnswer, ended);
        if (ended && buffer.find('\n') == std::string::npos)
            return {LocalAsk::NoAnswer, {}};
    }
}

} // namespace

std::string ChoosePrivateFolder(const char* runtimeDir, const std::string& tmpBase, uid_t uid) {
    struct stat st {};
    if (runtimeDir && runtimeDir[0] == '/' && ::stat(runtimeDir, &st) == 0 &&
        isPrivateFolder(st, uid))
        return runtimeDir;
    return fallbackFolder(tmpBase, uid);
}

std::string ChoosePrivateFolder() {
    return ChoosePrivateFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp", ::getuid());
}

std::string LocalSocketPath(const std::string& folder) {
    if (folder.empty())
        return {};
    const std::string path = folder + kSocketName;
    sockaddr_un address;
    return fillAddress(path, address) ? path : std::string();
}

LocalReply AskLocal(const std::string& path, std::string_view request,
                    LocalClock::time_point deadline) {
    sockaddr_un address;
    if (!fillAddress(path, address))
        return {LocalAsk::Unusable, {}};
    const int fd = newSocket();
    if (fd < 0)
        return {LocalAsk::Unusable, {}};
    const int connected = retryOnSignal([&] {
        return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    });
    LocalReply reply;
    if (connected != 0)
        reply = {connectFailure(path, errno), {}};
    else if (!SendNow(fd, request))
        reply = {LocalAsk::NoAnswer, {}};
    else
        reply = readLine(fd, deadline);
    ::close(fd);
    return reply;
}

LocalLock::LocalLock(const std::string& path, LocalClock::time_point deadline) {
    fd_ = retryOnSignal(
        [&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600); });
    if (fd_ < 0)
        return;
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
            return;
        if ((errno != EWOULDBLOCK && errno != EINTR) || LocalClock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kLockRetry);
    }
    ::close(fd_);
    fd_ = -1;
}

LocalLock::~LocalLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only handle releases the lock
}

bool LocalListener::Listen(const std::string& path, bool takeOver) {
    Close();
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        errno = ENAMETOOLONG;
        return false;
    }
    struct stat st {};
    if (takeOver && ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        ::unlink(path.c_str());
    const int fd = newSocket();
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, kBacklog) != 0 || ::lstat(path.c_str(), &st) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    fd_ = fd;
    path_ = path;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return true;
}

int LocalListener::Accept() const {
    if (fd_ < 0)
        return -1;
    return retryOnSignal(
        [&] { return ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); });
}

void LocalListener::Close() {
    if (fd_ < 0)
        return;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

long PeerUid(int fd) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return -1;
    return static_cast<long>(credentials.uid);
}

bool SendNow(int fd, std::string_view bytes) {
    const ssize_t sent = retryOnSignal(
        [&] { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
    return sent == static_cast<ssize_t>(bytes.size());
}

std::string ReceiveNow(int fd, size_t most, bool& ended) {
    std::string bytes(most, '\0');
    const ssize_t got =
        retryOnSignal([&] { return ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT); });
    ended = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

void CloseLocal(int fd) {
    if (fd >= 0)
        ::close(fd);
}

} // namespace platform
