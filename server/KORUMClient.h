#pragma once

#include "platform/Thread.h"
#include "server/ServerContext.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TCustomWSocket;
class TWSocket;

// Live workers of the process; changed only on the UI thread (IncPeers/DecPeers).
extern int32_t PeerCounter;

// One accepted connection: adopts the handle, collects one request, answers it, closes and
// deletes itself. Everything but the constructor runs on the worker's own thread; the socket is
// created there so that its events are delivered there.
class tPeerThread : public platform::TThread {
public:
    tPeerThread(int handle, const QString& baseFile, const QString& basePath,
                ServerContext& context);
    ~tPeerThread() override;

    // The poll step of the receive loop, and the wait for a send: a wait on this thread's events
    // that ends as soon as one arrives, this long at most.
    static constexpr int kPollMs = 100;
    static constexpr int kSendPollMs = 10;
    static constexpr int kSettleMs = 200;
    static constexpr int kChunkSize = 4096;
    static constexpr int kChunksPerRead = 16;

protected:
    void Execute() override;

private:
    void Serve();
    void ReceiveLoop();
    void CheckRequest();
    void CloseConnection();
    void PeerDataAvailable(TCustomWSocket* sender, uint16_t error);
    void PeerDataSent(TCustomWSocket* sender, uint16_t error);
    void PeerChangeState(TCustomWSocket* sender, int oldState, int newState);
    void WaitDataSent();
    void WaitReplyGone();
    void ProcessRequest(const std::string& header);
    void Dispatch(const std::string& header);
    bool HandleMethod(const std::string& line, const char* method);
    void SendError(int32_t code, const std::string& message);
    void SendText(const std::string& text);
    std::string MakeFileHeader(const std::string& ext, int fileHandle);
    void SendFile();
    void SendFileBody(int fileHandle);
    void Upload();
    void UploadInPlace(const std::string& name, std::string_view body);
    bool InvokePlugin(const std::string& name, const std::string& query);
    void LogRequest(const std::string& line);
    void IncPeers();
    void DecPeers();
    std::string FileName() const;
    static uint32_t Tick();

    ServerContext& context_;
    std::unique_ptr<TWSocket> Socket;
    int PeerHandle;
    std::string Received;
    bool Connected = false;
    bool RequestComplete = false;
    size_t BodyStart = 0;
    bool ReplyPending = false;
    bool FileFound = false;
    bool Finished = false;
    std::string RequestPath;
    std::string BaseFile;
    std::string BasePath;
    bool DataSent = false;
    std::string PeerAddress;
    std::string FileExt;
    std::string HeaderText;
    std::string LogText;
    int32_t IdleLimit = 0;
    uint32_t LastActivity = 0;
    bool PeersCounted = false;
};
