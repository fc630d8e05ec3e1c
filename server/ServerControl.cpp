#include "server/ServerControl.h"

#include "config/HomeTool.h"
#include "config/KORUPlugin.h"
#include "config/ServerSettings.h"
#include "net/WSocket.h"
#include "server/KORUMClient.h"

#include <array>

QString StateDisplayText(int state) {
    static const std::array<const char*, 8> kTexts{"InvalidState", "Opened",    "Bound",
                                                   "Connecting",   "Connected", "Accepting",
                                                   "Listening",    "Stopped"};
    return state >= 0 && state < int(kTexts.size()) ? QString::fromLatin1(kTexts[state])
                                                    : QString();
}

TServerControl::TServerControl(ServerContext& context)
    : context_(context), SS(std::make_unique<TWSocket>()) {
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
    // The socket's own close must not reach a display that is going away.
    SS->OnChangeState = nullptr;
    SS->OnSessionAvailable = nullptr;
}

void TServerControl::StartServer() {
    SS->SetPort(context_.settings.ListenPort.toStdString());
    SS->SetAddr("0.0.0.0");
    SS->Listen();
}

void TServerControl::StopServer() {
    SS->Close();
}

void TServerControl::SSChangeState(TCustomWSocket*, int, int newState) {
    IServerView& view = context_.view;
    if (!view.Destroying()) {
        const QString caption = QStringLiteral("Server: ") + StateDisplayText(newState);
        view.SetCaption(caption);
        view.SetTrayHint(caption);
        if (newState == 0 || newState == 7)
            SetServerButtons(0);
        else if (newState >= 1 && newState <= 5)
            SetServerButtons(1);
        else if (newState == 6) {
            SetServerButtons(2);
            view.SetTrayHint(view.TrayHint() + QStringLiteral(" on port ") +
                             context_.settings.ListenPort);
        }
    }
    if (newState == 6 && ScanPlugins)
        ScanPlugins();
    else if ((newState == 0 || newState >= 7) && UnloadPlugins)
        UnloadPlugins(2);
}

void TServerControl::SSSessionAvailable(TCustomWSocket*, uint16_t) {
    const QString baseFile = GetBaseFile();
    const QString basePath = GetBasePath();
    const int handle = SS->Accept();
    StartPeer(handle, basePath, baseFile);
    ++RequestCounter;
    context_.view.SetStatusText(1, QStringLiteral("Requests: %1").arg(RequestCounter));
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

QString TServerControl::GetBasePath() const {
    return AddBackslash(context_.settings.BaseFolder);
}

QString TServerControl::GetBaseFile() const {
    return context_.settings.BaseFileName;
}

void TServerControl::StartPeer(int handle, const QString& basePath, const QString& baseFile) {
    // The worker deletes itself when it has served its connection.
    auto* peer = new tPeerThread(handle, baseFile, basePath, context_);
    peer->Resume();
}
