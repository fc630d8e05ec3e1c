#include "server/Upload.h"

#include "platform/FileCalls.h"
#include "server/Reply.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upload {
namespace {

// The hidden temporaries of this process's uploads in progress, so that the program's end can
// remove them and a folder's sweep never takes one of them for a crash's leftover. Workers add
// and remove names on their own threads, hence the lock.
struct Temporaries {
    std::mutex mutex;
    std::set<std::string> names; // guarded by mutex

    void add(const std::string& name) {
        const std::lock_guard lock(mutex);
        names.insert(name);
    }
    void remove(const std::string& name) {
        const std::lock_guard lock(mutex);
        names.erase(name);
    }
    bool has(const std::string& name) {
        const std::lock_guard lock(mutex);
        return names.contains(name);
    }
};

Temporaries& Live() {
    static Temporaries live;
    return live;
}

int64_t nowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

bool isTemporaryName(std::string_view leaf) {
    return leaf.size() > 1 && leaf.front() == '.' && leaf.substr(1).starts_with(kTemporaryPrefix);
}

// Removes the hidden temporaries of `folder` that no upload holds (the one writing a file keeps
// an exclusive lock on it, in this process or another) and that nobody wrote for `staleMs`.
void sweepStale(const std::string& folder, int64_t staleMs) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return;
    const int64_t limit = nowMs() - staleMs;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isTemporaryName(entry->d_name))
            continue;
        const std::string name = folder + "/" + entry->d_name;
        if (Live().has(name))
            continue;
        const platform::FileHandle file(
            platform::OpenFile(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
        struct stat info {};
        if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const int64_t written =
            int64_t(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1'000'000;
        if (written < limit && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlink(name.c_str());
    }
}

std::string realFolder(const std::string& folder) {
    char resolved[PATH_MAX];
    return ::realpath(folder.empty() ? "." : folder.c_str(), resolved) != nullptr
               ? std::string(resolved)
               : std::string();
}

// The folder part of a file name ("." when it has none).
std::string folderOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : name.substr(0, slash);
}

UploadFile::Outcome linkFailure() {
    return errno == EEXIST ? UploadFile::Outcome::Exists : UploadFile::Outcome::CannotCreate;
}

} // namespace

bool NamesTemporary(std::string_view requestPath) {
    const size_t slash = requestPath.find_last_of("/\\");
    return isTemporaryName(slash == std::string_view::npos ? requestPath
                                                           : requestPath.substr(slash + 1));
}

void RemoveTemporaries() {
    Temporaries& live = Live();
    const std::lock_guard lock(live.mutex);
    for (const std::string& name : live.names)
        ::unlink(name.c_str());
    live.names.clear();
}

UploadFile::UploadFile(std::string name, Waiting waiting, int64_t staleMs)
    : name_(std::move(name)) {
    const std::string folder = folderOf(name_);
    if (waiting == Waiting::Unnamed) {
        fd_ = platform::CreateUnnamedFile(folder);
        if (fd_ >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
            return;
    }
    sweepStale(folder, staleMs);
    fd_ = platform::CreateHiddenFile(folder, kTemporaryPrefix, temporary_);
    if (fd_ < 0)
        return;
    // Tells a sweep in another program that this file is in use.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    Live().add(temporary_);
}

UploadFile::~UploadFile() {
    if (fd_ >= 0)
        ::close(fd_);
    dropTemporary();
}

void UploadFile::dropTemporary() {
    if (temporary_.empty())
        return;
    ::unlink(temporary_.c_str());
    Live().remove(temporary_);
    temporary_.clear();
}

void UploadFile::Write(const char* data, size_t size) {
    if (fd_ >= 0 && !failed_ && size > 0)
        failed_ = !platform::WriteAll(fd_, data, size);
}

UploadFile::Outcome UploadFile::Publish() {
    if (fd_ < 0 || published_)
        return Outcome::CannotCreate;
    if (failed_)
        return Outcome::CannotWrite;
    published_ = true;
    const bool named = temporary_.empty() ? platform::NameUnnamedFile(fd_, name_) : nameHidden();
    if (!named) {
        // Only an existing regular file means another upload won; anything else there (a folder,
        // a dangling link) is a name that cannot be created.
        const Outcome outcome = linkFailure();
        return outcome == Outcome::Exists && !platform::IsRegularFile(name_) ? Outcome::CannotCreate
                                                                             : outcome;
    }
    return Outcome::Saved;
}

// A second name where the file system has links; a rename that never replaces where it has none
// (FAT), after which the temporary name is gone.
bool UploadFile::nameHidden() {
    if (platform::AddName(temporary_, name_))
        return true;
    if (errno != EPERM && errno != EOPNOTSUPP)
        return false;
    if (!platform::RenameNoReplace(temporary_, name_))
        return false;
    Live().remove(temporary_);
    temporary_.clear();
    return true;
}

bool InsideFolder(const std::string& fileName, const std::string& protectedFolder) {
    const std::string target = realFolder(folderOf(fileName));
    const std::string guarded = realFolder(protectedFolder);
    if (target.empty() || guarded.empty())
        return false; // nothing to guard, or nowhere to create the file anyway
    return guarded == "/" || target == guarded || target.starts_with(guarded + "/");
}

Answer CannotCreate(const std::string& requestPath) {
    return {406, "Cannot create such a file: " + reply::EscapeHtml(requestPath)};
}

Answer AnswerFor(UploadFile::Outcome outcome, const std::string& requestPath) {
    using Outcome = UploadFile::Outcome;
    switch (outcome) {
    case Outcome::Saved:
        return {200, "File saved"};
    case Outcome::Exists:
        return {406, "File already exists"};
    case Outcome::CannotCreate:
        break;
    case Outcome::CannotWrite:
        return {500, "Cannot write such a file: " + reply::EscapeHtml(requestPath)};
    }
    return CannotCreate(requestPath);
}

} // namespace upload
