#pragma once

#include "platform/FreeSpace.h"
#include "server/PeerRule.h"
#include "server/Transfers.h"
#include "server/UiHandOff.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct ServerSettings;
class MimeTable;
class PluginPanel;

// Status bar panel 2 at rest: it shows how a start failed, or that accepting has paused, only for
// as long as that holds.
inline const QString kStatePanelCaption = QStringLiteral("State");

// What the main window shows of the server. The window implements it; tests implement it too.
// Called on the UI thread only.
class IServerView {
public:
    virtual ~IServerView() = default;
    virtual void SetCaption(const QString& caption) = 0;
    virtual QString Caption() const = 0;
    virtual void SetTrayHint(const QString& hint) = 0;
    virtual QString TrayHint() const = 0;
    // The Start button and the tray item "&Start" share one state; so do Stop and "S&top".
    virtual void SetStartEnabled(bool enabled) = 0;
    virtual void SetStopEnabled(bool enabled) = 0;
    // Status bar panels 0 ("Clients: "), 1 ("Requests: ") and 2 (the state, kStatePanelCaption at
    // rest).
    virtual void SetStatusText(int panel, const QString& text) = 0;
    // The listener listens on `port` (the one bound: the setting may say 0), or no longer does.
    virtual void ShowListening(uint16_t port) = 0;
    virtual void ShowStopped() = 0;
    // True while the window is being destroyed: the display is no longer updated.
    virtual bool Destroying() const = 0;
};

// Everything a worker reaches on the UI thread (through the hand-off) or reads itself (the page
// header and footer, which are guarded; the published MIME table). Owned by the main window;
// outlives every worker that the UI thread still answers.
struct ServerContext {
    ServerSettings& settings;
    MimeTable& mime;
    IServerView& view;
    PluginPanel& plugins;
    // Runs on the worker between finding a module and calling it; tests use it to stop the
    // server at that moment. Set before the server starts; empty in the program.
    std::function<void()> beforePluginCall = {};
    // Whether a peer counts as the home network's while only the home network is served; tests
    // make a loopback peer a stranger. Set before the server starts, then only read, by workers.
    std::function<bool(std::string_view address)> homePeer = peerrule::IsHomePeer;
    // The bytes free for an upload in a folder; tests claim little room. Set before the server
    // starts, then only read, by workers.
    std::function<std::optional<uint64_t>(const std::string& folder)> freeSpace =
        platform::FreeSpace;
    // Runs on the worker after each chunk of a file went to the socket, with its size.
    std::function<void(size_t bytes)> afterChunkSent = {};
    // Runs on the UI thread when a worker has ended: the listener resumes accepting if it had
    // paused for lack of resources. Set by the listener.
    std::function<void()> peerEnded = {};
    // Runs on the UI thread after every change of the live-worker count, with the new count.
    // Set by the listener.
    std::function<void(int count)> showClients = {};
    // Runs on the UI thread with every request line as the log has it (without its line end),
    // in order, whether or not the log file is enabled: the window shows the recent requests.
    // `number` tells the request apart from every other of this run.
    std::function<void(uint64_t number, const QByteArray& line)> requestLogged = {};
    // Runs on the UI thread when the request of that number has been answered: the status it
    // got (0 when no answer could be sent) and the bytes of the answer handed to the peer.
    std::function<void(uint64_t number, int status, int64_t bytes)> requestAnswered = {};
    // Runs on the UI thread when an upload was stored: the file's name (without its folder), the
    // peer that sent it and its size.
    std::function<void(const QString& name, const QString& peer, int64_t bytes)> uploadStored = {};
    // Runs on the UI thread when a transfer went on the board (not for each of its chunks).
    std::function<void()> transferBegan = {};
    // The large downloads and uploads in progress; workers count into it, the window looks.
    transfers::Board transfers = {};
    // Runs on the UI thread when a line could not be written to the log file (a full disk, a
    // missing folder, no permission), with a text that names the file and the reason: once, until
    // a line is written again or the log is switched off, when logLossEnded runs and the next loss
    // is told again.
    std::function<void(const QString& problem)> logLineLost = {};
    std::function<void()> logLossEnded = {};
    bool logLossReported = false; // UI thread only
    // The workers' one way to the UI thread.
    UiHandOff handOff = {};
};
