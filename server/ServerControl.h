#pragma once

#include "config/AccessChoices.h"
#include "server/ServerContext.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;
struct PeerSite;
class TCustomWSocket;
class TWSocket;

// The display text of a socket state; the closed state reads "Stopped".
QString StateDisplayText(int state);

// The server's front door: the listening socket `SS`, the counters and everything the window
// shows of the server's state. Lives on the UI thread, with the main window that owns it.
class TServerControl {
public:
    explicit TServerControl(ServerContext& context);
    ~TServerControl();
    TServerControl(const TServerControl&) = delete;
    TServerControl& operator=(const TServerControl&) = delete;

    // Listens on the port setting on every local address. Errors of the socket layer
    // (ESocketException) are not caught: the caller shows them.
    void StartServer();
    // Closes only the listening socket; connections being served finish on their own.
    void StopServer();

    void SSChangeState(TCustomWSocket* sender, int oldState, int newState);
    void SSSessionAvailable(TCustomWSocket* sender, uint16_t error);
    bool AcceptOne(bool first, const QString& basePath, const QString& baseFile);
    void SetServerButtons(uint8_t mode);
    void ShowClients(int count);
    // Who is served now: the setting, but never more than the listener was started for (one
    // started for this computer only cannot be reached from elsewhere until it starts again).
    ReachChoice ReachInForce() const;
    QString GetBasePath() const;
    QString GetBaseFile() const;
    // False when no worker could be started; the connection is then closed.
    bool StartPeer(int handle, const std::string& peerAddress, const QString& basePath,
                   const QString& baseFile);
    // Whether accepting waits for resources (descriptors, threads) to come back.
    bool AcceptPaused() const { return acceptPaused_; }

    // How long accepting rests after running out of resources, unless a connection ends first.
    static constexpr int kAcceptPauseMs = 250;
    static constexpr int kAcceptBatch = 32;

    TWSocket& Socket() { return *SS; }
    int32_t RequestCounter = 0;
    uint8_t ServerButtonsMode = 0;

    // Loading and unloading of the plug-in modules as the server starts and stops.
    std::function<void()> ScanPlugins;
    std::function<void(int32_t reason)> UnloadPlugins;

private:
    // Takes the connections that wait, a batch at most; `announced` when the listener said some do.
    void AcceptWaiting(bool announced);
    void PauseAccepting(const QString& reason);
    void ResumeAccepting();
    void EndShortage();
    void ClearPauseNote();

    ServerContext& context_;
    // The settings as the last workers were given them; made again when they change.
    std::shared_ptr<const PeerSite> site_;
    std::unique_ptr<TWSocket> SS;
    std::unique_ptr<QTimer> resumeTimer_;
    ReachChoice listenReach_ = ReachChoice::Anywhere; // as the last start found the setting
    bool acceptPaused_ = false;     // a shortage stopped accepting, and no try has shown it over
    bool resting_ = false;          // the listener is paused until the timer or an ended peer
    bool shortageReported_ = false; // once per start of the server, not once per attempt
    bool pauseNoteShown_ = false;   // the status bar says accepting has paused
};
