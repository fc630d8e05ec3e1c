#pragma once

#include "config/AccessChoices.h"
#include "platform/Thread.h"
#include "platform/Tuning.h"
#include "server/RequestCollector.h"
#include "server/ServerContext.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TCustomWSocket;
class TWSocket;
namespace upload {
class UploadFile;
}

// Live workers of the process; changed only on the UI thread (IncPeers/DecPeers).
extern int32_t PeerCounter;

// What the listener gives each worker from the settings: read on the UI thread, then shared,
// immutable, by every worker started while the settings stay the same, so that an accept costs no
// conversion of them.
struct PeerSite {
    // The setting texts a site is made from: a site is made again only when one of them changed.
    struct Sources {
        QString baseFile, basePath, idleSeconds, pluginsPath, logFile, uploadPath;
        bool folderPages = false;
        ReachChoice reach = ReachChoice::Anywhere;
        UploadsChoice uploads = UploadsChoice::UnderBase;
        bool operator==(const Sources&) const = default;
    };
    explicit PeerSite(Sources from);

    const Sources sources;
    const std::string baseFile; // in the file system's encoding
    const std::string basePath;
    const std::string baseFolder; // basePath as the file system names it ("\" read as "/")
    // Where modules are loaded from ("" is the current folder): no upload may land there.
    const std::string pluginsFolder;
    // The request log: never listed on a folder page, whatever folder it is in.
    const std::string logFile;
    // The upload folder ("" when none is set): where uploads go when only it takes them.
    const std::string uploadFolder;
    const int64_t idleLimit; // milliseconds
};

// One accepted connection: adopts the handle, collects one request, answers it, closes and
// deletes itself. Everything but the constructor runs on the worker's own thread; the socket is
// created there so that its events are delivered there. What to answer is the router's decision;
// files, uploads, modules and the log each have a unit of their own.
class tPeerThread : public platform::TThread {
public:
    // The worker's life, in this order: each step runs only in the phase it expects. A peer that
    // goes, or stays silent past the idle limit, while its request is collected skips to Closing.
    enum class Phase { Collecting, Dispatching, Closing, Ended };

    tPeerThread(int handle, std::string peerAddress, std::shared_ptr<const PeerSite> site,
                ServerContext& context);
    ~tPeerThread() override;

    // The poll step of the receive loop, and the wait for a send: a wait on this thread's events
    // that ends as soon as one arrives, this long at most.
    static constexpr int kPollMs = 100;
    static constexpr int kSendPollMs = 10;
    static constexpr int kSettleMs = 200;
    // A send ends the connection after this long without progress at least, whatever the idle
    // limit: progress shows only once the peer's acknowledgement is back, a round trip later.
    static constexpr int kMinStallMs = 1000;
    // How often a send that waits looks whether the peer has taken anything.
    static constexpr int kProgressLookMs = 100;
    // The most a worker reads in one call once the header is whole: an upload's body passes
    // through a buffer of this size, never through memory as a whole.
    static constexpr int kBodyReadSize = 64 * 1024;
    // The most a header read takes in one notice: most requests arrive whole in one.
    static constexpr int kHeaderReadSize = 8 * 1024;
    // The stack buffer header reads go through, and what a read of bytes to drop takes at once.
    static constexpr size_t kHeaderChunkSize = 2048;

protected:
    void Execute() override;
    bool ReadyToRun() override;

private:
    class FileConnection;

    // The life: Execute runs Serve (adopt the connection, Collect, Dispatch), then the close.
    void Serve();
    void Collect();
    void Dispatch();
    void Answer();
    void CloseConnection();

    void PeerDataAvailable(TCustomWSocket* sender, uint16_t error);
    int Read(char* buffer, int size);
    void ReadHeaderBytes();
    void ReadBodyBytes();
    void DropBytes();
    request::RequestCollector::BodySink StartUpload(route::Decision& decision);
    bool IdleTooLong() const;
    void PeerDataSent(TCustomWSocket* sender, uint16_t error);
    void PeerChangeState(TCustomWSocket* sender, int oldState, int newState);
    void WaitDataSent();
    void WaitSent(const std::function<bool()>& done);
    void WaitReplyGone();
    void SendError(int32_t code, const std::string& message);
    void SendText(const std::string& text);
    // `typeName` is the name whose extension gives the file's type.
    void SendFile(const std::string& fileName, const std::string& typeName);
    bool ServeFromBase(const route::Decision& decision);
    void SendFolderPage(const std::string& folder, const route::Decision& decision);
    void Upload(const std::string& fileName);
    void ReportStored(const std::string& fileName);
    bool UploadAllowed(const std::string& fileName) const;
    void CallModule(route::Decision decision);
    void LogRequest(const std::string& line);
    void NoteReply(std::string_view head, int64_t bytes);
    transfers::Entry beginTransfer(transfers::Direction direction, const std::string& name,
                                   int64_t total);
    void ReportAnswer();
    void IncPeers();
    void DecPeers();
    static int64_t Tick();

    ServerContext& context_;
    // Counts and log lines go to the UI thread this way; it never makes the worker wait.
    const UiHandOff::Sender toUi_;
    Phase Phase_ = Phase::Collecting;

    // What the worker was given: read-only once it runs.
    int PeerHandle;
    std::string PeerAddress;
    const std::shared_ptr<const PeerSite> Site; // what the two views below look into
    std::string_view BaseFile;
    // Empty when no base folder is set: nothing is served or stored then, since a target would
    // otherwise name any file of the machine by its absolute path.
    std::string_view BasePath;
    // Milliseconds, signed and 64 bits wide: a limit of zero or less ends an idle connection at
    // the first look, and no setting can overflow it.
    int64_t IdleLimit = 0;

    // The connection.
    std::unique_ptr<TWSocket> Socket;
    bool Connected = false;
    bool DataSent = false;
    int64_t LastActivity = 0;
    bool PeersCounted = false;

    // Collecting: the request's bytes and what they make, read in bounded pieces.
    request::RequestCollector Collector;
    std::vector<char> ReadBuffer;
    // Bytes of the request were taken before the socket was set up (ReadyToRun), and whether that
    // read filled its buffer, so that more may wait.
    bool EarlyBytes = false;
    bool EarlyFull = false;
    // Held while the worker waits for its request: see platform::PromptWakeScope.
    std::optional<platform::PromptWakeScope> promptWake_;
    // The peer said it sends nothing more: a request that is still incomplete never will be.
    bool InputEnded = false;
    // A streamed upload's file (none when the upload is refused anyway).
    std::unique_ptr<upload::UploadFile> UploadBody;

    // Dispatching: the target as replies name it.
    std::string RequestPath;
    // The logged request's number (0 while none was logged), and what its answer was: the window
    // shows each request with its status and size once it ends.
    uint64_t RequestNumber = 0;
    int32_t ReplyStatus = 0;
    int64_t ReplyBytes = 0;
    // A large upload's progress, for the window.
    transfers::Entry UploadProgress;
};
