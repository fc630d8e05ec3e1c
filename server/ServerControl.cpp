#include "server/ServerControl.h"

#include "config/HomeTool.h"
#include "config/KORUPlugin.h"
#include "config/ServerSettings.h"
#include "net/WSocket.h"
#include "server/KORUMClient.h"

#include "platform/Sockets.h"
#include "platform/ThreadPump.h"

#include <QTimer>

#include <algorithm>
#include <array>

QString StateDisplayText(int state) {
    static const std::array<const char*, 8> kTexts{"InvalidState", "Opened",    "Bound",
                                                   "Connecting",   "Connected", "Accepting",
                                                   "Listening",    "Stopped"};
    return state >= 0 && state < int(kTexts.size()) ? QString::fromLatin1(kTexts[state])
                                                    : QString();
}

namespace {

// Accepting failed because the process or the system ran out of something that comes back when
// connections end: descriptors, buffers, memory.
bool isShortage(int32_t code) {
    return code == platform::sockerr::TooManyOpenFiles || code == platform::sockerr::NoBufferSpace;
}

// The connection went between its arrival and the accept (aborted by the peer, or a network error
// the system hands over with it): nothing to serve and nothing to tell the user, or any visitor
// could put error boxes on the desktop.
bool isGoneBeforeAccept(int32_t code) {
    using namespace platform::sockerr;
    switch (code) {
    case NetworkDown:
    case NetworkUnreachable:
    case ConnectionAborted:
    case HostDown:
    case HostUnreachable:
        return true;
    default:
        return false;
    }
}

} // namespace

TServerControl::TServerControl(ServerContext& context)
    : context_(context), SS(std::make_unique<TWSocket>()),
      resumeTimer_(std::make_unique<QTimer>()) {
    resumeTimer_->setSingleShot(true);
    QObject::connect(resumeTimer_.get(), &QTimer::timeout, [this] { ResumeAccepting(); });
    context_.peerEnded = [this] { ResumeAccepting(); };
    context_.showClients = [this](int count) { ShowClients(count); };
    SS->SetAddr("0.0.0.0");
    SS->SetPort("0");
    SS->SetProto("tcp");
    SS->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) { SSSessionAvailable(s, e); };
    SS->OnChangeState = [this](TCustomWSocket* s, TSocketState o, TSocketState n) {
        SSChangeState(s, static_cast<int>(o), static_cast<int>(n));
    };
    ScanPlugins = [this] { context_.plugins.ScanPlugins(context_.settings.PluginsPath); };
    UnloadPlugins = [this](int32_t reason) { context_.plugins.UnloadPlugins(reason); };
}

TServerControl::~TServerControl() {
    context_.peerEnded = nullptr;
    context_.showClients = nullptr;
    // The socket's own close must not reach a display that is going away.
    SS->OnChangeState = nullptr;
    SS->OnSessionAvailable = nullptr;
}

void TServerControl::StartServer() {
    acceptPaused_ = resting_ = shortageReported_ = false;
    resumeTimer_->stop();
    ClearPauseNote();
    SS->SetPort(context_.settings.ListenPort.toStdString());
    // This computer only: no other machine can even connect.
    listenReach_ = context_.settings.Reach;
    SS->SetAddr(listenReach_ == ReachChoice::ThisComputer ? "127.0.0.1" : "0.0.0.0");
    SS->Listen();
}

void TServerControl::StopServer() {
    resumeTimer_->stop();
    acceptPaused_ = resting_ = false;
    ClearPauseNote();
    SS->Close();
}

void TServerControl::SSChangeState(TCustomWSocket*, int, int newState) {
    IServerView& view = context_.view;
    if (!view.Destroying()) {
        const QString caption = QStringLiteral("Server: ") + StateDisplayText(newState);
        view.SetCaption(caption);
        view.SetTrayHint(caption);
        if (newState == wsInvalidState || newState == wsClosed)
            SetServerButtons(0);
        else if (newState >= wsOpened && newState <= wsAccepting)
            SetServerButtons(1);
        if (newState == wsListening) {
            SetServerButtons(2);
            // The port actually bound: the setting may say 0 (any free port).
            const std::string port = SS->GetLocalPort();
            view.SetTrayHint(view.TrayHint() + QStringLiteral(" on port ") +
                             QString::fromStdString(port));
            view.ShowListening(static_cast<uint16_t>(std::stoi(port)));
        } else {
            view.ShowStopped();
        }
    }
    if (newState == wsListening && ScanPlugins)
        ScanPlugins();
    else if ((newState == wsInvalidState || newState >= wsClosed) && UnloadPlugins)
        UnloadPlugins(2);
}

void TServerControl::SSSessionAvailable(TCustomWSocket*, uint16_t) {
    AcceptWaiting(true);
}

void TServerControl::AcceptWaiting(bool announced) {
    const QString baseFile = GetBaseFile();
    const QString basePath = GetBasePath();
    // Connections come in bursts: one wake-up takes those that wait, a bounded number, so that
    // the window stays responsive under a flood.
    // The count goes the workers' way to the window, through the hand-off that throttles every
    // count it shows; once per batch.
    const int32_t before = RequestCounter;
    const auto showCount = [&] {
        if (RequestCounter != before)
            context_.handOff.sender().Post([&view = context_.view, count = RequestCounter] {
                if (!view.Destroying())
                    view.SetStatusText(1, QStringLiteral("Requests: %1").arg(count));
            });
    };
    try {
        for (int taken = 0; taken < kAcceptBatch && SS->State() == wsListening && !resting_;
             ++taken)
            if (!AcceptOne(announced && taken == 0, basePath, baseFile))
                break;
    } catch (...) {
        showCount();
        throw;
    }
    showCount();
}

// False when no connection waits any more, or accepting has paused.
bool TServerControl::AcceptOne(bool first, const QString& basePath, const QString& baseFile) {
    int handle = -1;
    try {
        handle = first ? SS->Accept() : SS->AcceptNext();
    } catch (const ESocketException& e) {
        // The connection waits in the backlog until resources come back; trying again at once
        // would only spin on the same failure.
        const int32_t code = platform::LastSocketError();
        if (isGoneBeforeAccept(code))
            return true;
        if (!isShortage(code))
            throw;
        PauseAccepting(QString::fromLocal8Bit(e.what()).section(QLatin1String("\r\n"), 1));
        return false;
    }
    if (handle < 0) {
        // Nobody waits: whatever ran short is no longer in the way of anyone.
        EndShortage();
        return false;
    }
    const std::string peer = platform::DottedAddress(SS->AcceptedPeer().Addr);
    if (StartPeer(handle, peer, basePath, baseFile))
        EndShortage();
    else
        PauseAccepting(QStringLiteral("No thread could be started for a connection"));
    ++RequestCounter;
    return !resting_;
}

void TServerControl::SetServerButtons(uint8_t mode) {
    if (mode == ServerButtonsMode)
        return;
    ServerButtonsMode = mode;
    context_.view.SetStartEnabled(mode == 0);
    context_.view.SetStopEnabled(mode == 2);
}

void TServerControl::ShowClients(int count) {
    context_.view.SetStatusText(0, QStringLiteral("Clients: %1").arg(count));
}

ReachChoice TServerControl::ReachInForce() const {
    return std::min(listenReach_, context_.settings.Reach);
}

QString TServerControl::GetBasePath() const {
    return AddBackslash(context_.settings.BaseFolder);
}

QString TServerControl::GetBaseFile() const {
    return context_.settings.BaseFileName;
}

bool TServerControl::StartPeer(int handle, const std::string& peerAddress, const QString& basePath,
                               const QString& baseFile) {
    // The worker deletes itself when it has served its connection.
    const ServerSettings& settings = context_.settings;
    PeerSite::Sources sources{baseFile,
                              basePath,
                              settings.IdleSeconds,
                              settings.PluginsPath,
                              settings.LogFile,
                              settings.UploadPath,
                              settings.FolderPages,
                              ReachInForce(),
                              settings.Uploads};
    if (!site_ || !(site_->sources == sources))
        site_ = std::make_shared<const PeerSite>(std::move(sources));
    auto peer = std::make_unique<tPeerThread>(handle, peerAddress, site_, context_);
    if (peer->Resume()) {
        peer.release();
        return true;
    }
    platform::SocketClose(handle);
    return false;
}

void TServerControl::PauseAccepting(const QString& reason) {
    acceptPaused_ = true;
    if (!resting_ && SS->State() == wsListening) {
        resting_ = true;
        SS->Pause();
    }
    resumeTimer_->start(kAcceptPauseMs);
    const QString text = QStringLiteral("Accepting paused: ") + reason;
    // The window says so for as long as it lasts; the program's output once per start.
    if (!context_.view.Destroying() && !pauseNoteShown_) {
        context_.view.SetStatusText(2, text);
        pauseNoteShown_ = true;
    }
    if (shortageReported_)
        return;
    shortageReported_ = true;
    qWarning("%s", qPrintable(text));
}

void TServerControl::ClearPauseNote() {
    if (!pauseNoteShown_)
        return;
    pauseNoteShown_ = false;
    if (!context_.view.Destroying())
        context_.view.SetStatusText(2, kStatePanelCaption);
}

// The shortage is over only when a try shows it: the note and the paused state stay through the
// try, so that the window does not flicker between them while the shortage lasts.
void TServerControl::ResumeAccepting() {
    if (!resting_)
        return;
    resting_ = false;
    resumeTimer_->stop();
    if (SS->State() != wsListening)
        return;
    SS->Resume();
    // Try at once: the listener tells of connections as they come, not of those already waiting.
    // A failure other than the shortage is shown as the listener's own would be.
    try {
        AcceptWaiting(false);
    } catch (...) {
        platform::RelayHandlerError(std::current_exception());
    }
}

void TServerControl::EndShortage() {
    if (!acceptPaused_)
        return;
    acceptPaused_ = false;
    ClearPauseNote();
}
