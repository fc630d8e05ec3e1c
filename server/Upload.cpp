#include "server/Upload.h"

#include "platform/FileCalls.h"
#include "server/Reply.h"

#include <cerrno>
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
        fd_ = platform::CreateUnnamedFile(folder);
        if (fd_ >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
            return;
    }
    fd_ = platform::CreateHiddenFile(folder, "koru-upload-", temporary_);
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
    const bool named = temporary_.empty() ? platform::NameUnnamedFile(fd_, name_)
                                          : platform::AddName(temporary_, name_);
    if (!named) {
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
