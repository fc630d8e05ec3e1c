#pragma once

#include "config/KORUPlugin.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "server/ServerContext.h"
#include "shell/TrayService.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TF_KORUMain;
}
class QAction;
class QLabel;
class QMenu;
class TClientPage;
class TLCDate;
class TMimePage;
class TMover;
class TRxTray;
class TServerControl;
class TServerPage;
class TSettingsPage;
class TUploadNotices;
class TTrayStateIcons;
class TWSocket;

// The one window of the program: its life, the server's start and stop, the tray, the About
// text, the plug-in list and the status bar, and the wiring of its pages (Server, Settings, MIME
// and the raw-TCP test client), each a class of its own on the window's controls. The listener
// tells it its state; it tells the Server page. UI thread only.
class TF_KORUMain : public QMainWindow, public IServerView {
    Q_OBJECT
public:
    // Without a tray service the desktop's real notification area is used.
    explicit TF_KORUMain(std::unique_ptr<TrayService> tray = nullptr);
    ~TF_KORUMain() override;

    // The window's parts, for the program entry and for tests.
    Ui::TF_KORUMain& UI() { return *ui_; }
    TServerControl& Server() { return *Server_; }
    TWSocket& CSock();
    TRxTray& RxTray1() { return *RxTray1_; }
    QMenu& PM2() { return *PM2_; }
    TMover& Mover1();
    TServerPage& ServerPage() { return *ServerPage_; }
    TUploadNotices& UploadNotices() { return *UploadNotices_; }
    ServerSettings& Settings() { return ServerSettings_; }
    MimeTable& Mime() { return MimeTable_; }
    PluginPanel& Plugins() { return Plugins_; }
    QString AboutText() const;
    // Whether the window is shown at start-up: on a first run (nothing saved yet), when "Hide on
    // startup" is off, or when there is nowhere to hide to.
    bool ShowAtStartup() const;

    // Raises the listener's error; the state panel shows "Failed" until a start succeeds.
    void StartServer();
    void StopServer();
    // The start at program start-up: a failure is shown, not raised, and the program goes on.
    void StartAtStartup();
    void RestoreSettings();
    void SaveSettings();

    // Handlers of the controls, named after control and event.
    void ListenBtnClick() {
        guarded([this] { StartServer(); });
    }
    void StopBtnClick() {
        guarded([this] { StopServer(); });
    }
    void Button6Click();
    void RxTray1Click();
    // The tray's items do what the buttons beside them do.
    void Start1Click() { ListenBtnClick(); }
    void Stop1Click() { StopBtnClick(); }
    void Exit1Click() { close(); }
    // Runs what the workers have handed the UI thread and the loop has not run yet: at the end,
    // every line of every answered request still reaches the log.
    int RunWorkerCalls() { return context_.handOff.RunPending(); }
    void Button4Click() {
        guarded([this] { SaveSettings(); });
    }
    void Button11Click() {
        guarded([this] { RestoreSettings(); });
    }

    // IServerView
    void SetCaption(const QString& caption) override;
    QString Caption() const override;
    void SetTrayHint(const QString& hint) override;
    void ShowListening(uint16_t port) override;
    void ShowStopped() override;
    QString TrayHint() const override;
    void SetStartEnabled(bool enabled) override;
    void SetStopEnabled(bool enabled) override;
    void SetStatusText(int panel, const QString& text) override;
    QString StatusText(int panel) const;
    bool Destroying() const override { return destroying_; }

signals:
    // The window was closed: the program ends.
    void Closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void createTray(std::unique_ptr<TrayService> tray);
    void createServerPage();
    void createStatusBar();
    void connectServerControls();
    void showPlugins();
    // Runs a handler; an error it raises is shown with its text and the program goes on.
    void guarded(const std::function<void()>& handler);

    std::unique_ptr<Ui::TF_KORUMain> ui_;
    ServerSettings ServerSettings_;
    MimeTable MimeTable_;
    PluginPanel Plugins_;
    ServerContext context_{ServerSettings_, MimeTable_, *this, Plugins_};
    std::unique_ptr<TServerControl> Server_;
    // The pages bind the layout's controls to what the window owns, so they go first.
    std::unique_ptr<TClientPage> ClientPage_;
    std::unique_ptr<TSettingsPage> SettingsPage_;
    std::unique_ptr<TMimePage> MimePage_;
    TRxTray* RxTray1_ = nullptr;
    std::unique_ptr<TTrayStateIcons> trayIcons_;
    QMenu* PM2_ = nullptr;
    QAction* Start1_ = nullptr;
    QAction* Stop1_ = nullptr;
    QAction* Exit1_ = nullptr;
    TLCDate* LCDate1_ = nullptr;
    TServerPage* ServerPage_ = nullptr;
    TUploadNotices* UploadNotices_ = nullptr;
    QLabel* panels_[3] = {};
    // Counter texts change once per connection; the panels show the latest within a moment, so
    // that a busy server does not spend its UI thread laying out text nobody can read that fast.
    bool destroying_ = false;
    void aimClientAtThisServer();
    void showReachInForce();
    // The port the listener said it listens on; none while it does not.
    std::optional<uint16_t> listeningPort_;
    bool firstRun_ = false;
};

// The program's one main window while it exists.
extern TF_KORUMain* F_KORUMain;
