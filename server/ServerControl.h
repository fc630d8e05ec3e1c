#pragma once

#include "server/ServerContext.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

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
    void SetServerButtons(uint8_t mode);
    void ShowClients(int count);
    QString GetBasePath() const;
    QString GetBaseFile() const;
    void StartPeer(int handle, const QString& basePath, const QString& baseFile);

    TWSocket& Socket() { return *SS; }
    int32_t RequestCounter = 0;
    uint8_t ServerButtonsMode = 0;

    // Loading and unloading of the plug-in modules as the server starts and stops.
    std::function<void()> ScanPlugins;
    std::function<void(int32_t reason)> UnloadPlugins;

private:
    ServerContext& context_;
    std::unique_ptr<TWSocket> SS;
};
