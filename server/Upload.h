#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where an upload's bytes go while they arrive: a file without a name in the target's folder (a
// hidden temporary one where the file system has no unnamed files), named only when the body is
// whole. No reader ever sees a partial upload, memory holds no more than one read of the body,
// and naming never replaces an existing file, so of two uploads racing for a name exactly one
// wins.
namespace upload {

// The name prefix of the hidden temporary files (".koru-upload-XXXXXX"). No request may read or
// create a file of such a name: it holds somebody's upload in progress.
inline constexpr const char* kTemporaryPrefix = "koru-upload-";
// True when the last folder step of `requestPath` ("/" or "\" separated) is such a name.
bool NamesTemporary(std::string_view requestPath);

// Removes the temporary files of the uploads still in progress (program end: a worker that did
// not end in time must not leave its partial file for good). Any thread.
void RemoveTemporaries();

class UploadFile {
public:
    enum class Outcome { Saved, Exists, CannotCreate, CannotWrite };
    // How the file waits for its name: without one, or under a hidden temporary one (what a file
    // system without unnamed files gets; tests choose it to run that way on any file system).
    enum class Waiting { Unnamed, HiddenName };

    // Opens the nameless file in the folder of `name` (a path on the file system). Where it must
    // wait under a hidden name, hidden temporaries of that folder that nobody holds and that were
    // last written more than `staleMs` ago are removed first: a program that ended without its
    // clean-up (a crash, a power cut) left them.
    explicit UploadFile(std::string name, Waiting waiting = Waiting::Unnamed,
                        int64_t staleMs = kDefaultStaleMs);
    static constexpr int64_t kDefaultStaleMs = 40'000;
    // Removes whatever was written unless it was published.
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    bool Opened() const { return fd_ >= 0; }
    // Appends; after a failure the rest is skipped and Publish says so.
    void Write(const char* data, size_t size);
    // Gives the file its name, exactly once.
    Outcome Publish();

private:
    bool nameHidden();
    void dropTemporary();

    std::string name_;
    std::string temporary_; // the hidden name, where unnamed files are not available
    int fd_ = -1;
    bool failed_ = false;
    bool published_ = false;
};

// The page that answers an upload: its status and its text. `requestPath` is the target as the
// request named it.
struct Answer {
    int status;
    std::string message;
};
Answer AnswerFor(UploadFile::Outcome outcome, const std::string& requestPath);
// The answer when the name cannot be created at all.
Answer CannotCreate(const std::string& requestPath);

// True when the folder that `fileName` would be created in is `protectedFolder` or lies below it,
// links resolved ("" reads as the current folder). An upload there is refused: the plug-ins
// folder must never receive a visitor's file, which the next start would load and run.
bool InsideFolder(const std::string& fileName, const std::string& protectedFolder);

} // namespace upload
