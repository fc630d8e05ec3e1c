#include "server/Upload.h"

#include "platform/FileCalls.h"
#include "server/Reply.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upload {
namespace {

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

UploadFile::UploadFile(std::string name, Waiting waiting) : name_(std::move(name)) {
    const std::string folder = folderOf(name_);
    if (waiting == Waiting::Unnamed) {
        fd_ = platform::OpenFile(folder.c_str(), O_TMPFILE | O_WRONLY, 0644);
        if (fd_ >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
            return;
    }
    OpenTemporaryName(folder);
}

void UploadFile::OpenTemporaryName(const std::string& folder) {
    std::string pattern = folder + "/.koru-upload-XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0)
        return;
    ::fchmod(fd_, 0644);
    temporary_ = std::move(pattern);
}

UploadFile::~UploadFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
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
    int linked;
    if (temporary_.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name_.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        linked = ::link(temporary_.c_str(), name_.c_str());
    }
    if (linked != 0) {
        // Only an existing regular file means another upload won; anything else there (a folder,
        // a dangling link) is a name that cannot be created.
        const Outcome outcome = linkFailure();
        return outcome == Outcome::Exists && !platform::IsRegularFile(name_) ? Outcome::CannotCreate
                                                                             : outcome;
    }
    return Outcome::Saved;
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
