#include "shell/KORUMain.h"

#include "config/HomeTool.h"
#include "net/WSocket.h"
#include "platform/Sockets.h"
#include "server/ServerControl.h"
#include "shell/ClientPage.h"
#include "shell/Dialogs.h"
#include "shell/LCDate.h"
#include "shell/MainLayout.h"
#include "shell/MimePage.h"
#include "shell/PortCheck.h"
#include "shell/ProblemNotes.h"
#include "shell/RecentRequests.h"
#include "shell/RxTray.h"
#include "shell/ServerPage.h"
#include "shell/SettingsPage.h"
#include "shell/TransfersView.h"
#include "shell/TrayStateIcons.h"
#include "shell/UploadNotices.h"
#include "ui_KORUMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

#include <array>

TF_KORUMain* F_KORUMain = nullptr;

namespace {

constexpr std::array<int, 3> kPanelWidths{80, 90, 50};
const QString kStateCaption = kStatePanelCaption;
const QString kFailedState = QStringLiteral("Failed");

template <typename... Handler> void Unset(Handler&... handlers) {
    ((handlers = nullptr), ...);
}

} // namespace

TF_KORUMain::TF_KORUMain(std::unique_ptr<TrayService> tray)
    : ui_(std::make_unique<Ui::TF_KORUMain>()) {
    ui_->setupUi(this);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    QFont aboutFont(QStringLiteral("Arial"));
    aboutFont.setPixelSize(12);
    ui_->Label7->setFont(aboutFont);
    LayOutMainWindow(*ui_);
    Server_ = std::make_unique<TServerControl>(context_);
    LCDate1_ = new TLCDate(this);
    createTray(std::move(tray));
    createServerPage();
    ClientPage_ = std::make_unique<TClientPage>(*ui_, *this);
    SettingsPage_ = std::make_unique<TSettingsPage>(*ui_, ServerSettings_, *this);
    MimePage_ = std::make_unique<TMimePage>(*ui_, MimeTable_, *this);
    createStatusBar();
    connectServerControls();
    F_KORUMain = this;
    FormCreate();
}

TF_KORUMain::~TF_KORUMain() {
    destroying_ = true;
    try {
        FormDestroy();
    } catch (...) {
        // A module that fails its shutdown must not keep the program from ending.
    }
    // Nothing the server still does may reach a window that is gone.
    Unset(context_.requestLogged, context_.requestAnswered, context_.transferBegan,
          context_.uploadStored, context_.logLineLost, context_.logLossEnded);
    if (F_KORUMain == this)
        F_KORUMain = nullptr;
}

TWSocket& TF_KORUMain::CSock() {
    return ClientPage_->CSock();
}

TMover& TF_KORUMain::Mover1() {
    return ClientPage_->Mover1();
}

void TF_KORUMain::FormCreate() {
    RegRoot = platform::StoreRoot::MachineWide;
    // Not listening yet: the tray shows the stopped picture until the listener says otherwise.
    trayIcons_ =
        std::make_unique<TTrayStateIcons>(*RxTray1_, QIcon(QStringLiteral(":/icons/koru-256.png")));
    trayIcons_->ShowStopped();
    ui_->Label7->setText(AboutText());
    // A store that cannot be read is an earlier run's, damaged: never a first run, and said so.
    const QString unreadable = StoreProblem();
    const Defaults defaults = DefaultsFor(SettingsStored(), unreadable);
    firstRun_ = defaults == Defaults::FirstRun;
    if (!unreadable.isEmpty()) {
        const QString text =
            unreadable + QStringLiteral(" KORU starts with the settings of an earlier "
                                        "version's store; saving the settings replaces it.");
        QTimer::singleShot(0, this, [this, text] { dialogs::ShowNotice(this, text); });
    }
    // A damaged store must not keep the program from starting: the values read before the bad
    // one stay, the rest start from the defaults this store gets (an earlier version's: no folder
    // pages, the built-in MIME table), and the user is told once the loop runs, when the window
    // is shown or in the tray as start-up left it.
    ::ResetSettings(ServerSettings_, MimeTable_, defaults);
    try {
        RestoreSettings();
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        // A box rather than a tray message: it stays until read, and a save made before
        // reading it would replace the stored values with the defaults.
        QTimer::singleShot(0, this, [this, text] { dialogs::ShowNotice(this, text); });
    }
    if (firstRun_)
        aimClientAtThisServer();
}

// The stored layout's address and port name somebody's router; on a first run the test client
// starts at this machine's own server, the one a new user wants to try.
void TF_KORUMain::aimClientAtThisServer() {
    ui_->Edit7->setText(QStringLiteral("127.0.0.1"));
    ui_->Edit8->setText(ServerSettings_.ListenPort.trimmed());
}

void TF_KORUMain::FormDestroy() {
    // Problems at the end go to the program's output: the status bar is going away.
    Plugins_.OnProblem = nullptr;
    Plugins_.UnloadPlugins(3);
    MimeTable_.OnChanged = nullptr;
}

QString TF_KORUMain::AboutText() const {
    return QStringLiteral("KORU, a small multithreaded personal web server, by the KORU "
                          "developers\r\n"
                          "Asynchronous socket component WSocket, by the KORU developers\r\n") +
           QStringLiteral("Version %1.%2 (Last compilation: %3)\r\n")
               .arg(KORU_VERSION_MAJOR)
               .arg(KORU_VERSION_MINOR)
               .arg(DateTimeToStr(LCDate1_->LCDate())) +
           QStringLiteral("Plugins level: %1").arg(kPluginsLevel);
}

bool TF_KORUMain::ShowAtStartup() const {
    // A first run hidden in the tray would leave a new user wondering whether anything started.
    return firstRun_ || !ui_->CheckBox4->isChecked() || !RxTray1_->Service().Available();
}

void TF_KORUMain::createTray(std::unique_ptr<TrayService> tray) {
    RxTray1_ = new TRxTray(this, std::move(tray));
    PM2_ = new QMenu(this);
    Start1_ = PM2_->addAction(QStringLiteral("&Start"));
    Stop1_ = PM2_->addAction(QStringLiteral("S&top"));
    PM2_->addSeparator();
    Exit1_ = PM2_->addAction(QStringLiteral("&Exit"));
    Stop1_->setEnabled(false);
    RxTray1_->SetPopupMenu(PM2_);
    RxTray1_->OnClick = [this](TRxTray*, Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
        if (button == Qt::LeftButton)
            RxTray1Click();
    };
    RxTray1_->OnError = [this](const QString& text) { dialogs::ShowMessage(this, text); };
    connect(Start1_, &QAction::triggered, this, &TF_KORUMain::Start1Click);
    connect(Stop1_, &QAction::triggered, this, &TF_KORUMain::Stop1Click);
    connect(Exit1_, &QAction::triggered, this, &TF_KORUMain::Exit1Click);
}

void TF_KORUMain::createServerPage() {
    ServerPage_ = new TServerPage(context_.transfers, ui_->TabSheet1);
    PlaceServerPage(*ui_->TabSheet1, *ui_->Label7, *ServerPage_);
    PM2_->insertAction(Start1_, &ServerPage_->OpenInBrowser());
    context_.requestLogged = [this](uint64_t number, const QByteArray& line) {
        ServerPage_->Requests().AddRequest(number, line);
    };
    context_.requestAnswered = [this](uint64_t number, int status, int64_t bytes) {
        ServerPage_->Requests().AnswerRequest(number, status, bytes);
    };
    context_.transferBegan = [this] { ServerPage_->Transfers().TransferBegan(); };
    UploadNotices_ = new TUploadNotices(
        [this](const QString& title, const QString& text) { RxTray1_->ShowMessage(title, text); },
        this);
    context_.uploadStored = [this](const QString& name, const QString& peer, int64_t bytes) {
        if (ServerSettings_.UploadNotices)
            UploadNotices_->Stored(name, bytes, peer);
    };
    context_.logLineLost = [this](const QString& problem) {
        ServerPage_->Notes().ShowLogProblem(problem);
    };
    context_.logLossEnded = [this] { ServerPage_->Notes().ClearLogProblem(); };
}

void TF_KORUMain::createStatusBar() {
    const std::array<QString, 3> texts{QStringLiteral("Clients: 0"), QStringLiteral("Requests: 0"),
                                       kStateCaption};
    for (size_t i = 0; i < texts.size(); ++i) {
        panels_[i] = new QLabel(texts[i], ui_->SB1);
        panels_[i]->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
        panels_[i]->setFixedWidth(kPanelWidths[i]);
        ui_->SB1->addWidget(panels_[i]);
    }
    ui_->SB1->setFixedHeight(19);
}

void TF_KORUMain::connectServerControls() {
    connect(ui_->ListenBtn, &QPushButton::clicked, this, &TF_KORUMain::ListenBtnClick);
    connect(ui_->StopBtn, &QPushButton::clicked, this, &TF_KORUMain::StopBtnClick);
    connect(ui_->Button6, &QPushButton::clicked, this, &TF_KORUMain::Button6Click);
    connect(ui_->Button4, &QPushButton::clicked, this, &TF_KORUMain::Button4Click);
    connect(ui_->Button11, &QPushButton::clicked, this, &TF_KORUMain::Button11Click);
    connect(&SettingsPage_->Access().ReachBox(), &QComboBox::currentIndexChanged, this,
            &TF_KORUMain::showReachInForce);
    Plugins_.OnChanged = [this] { showPlugins(); };
    Plugins_.OnProblem = [this](const QString& problem) { SetStatusText(2, problem); };
}

void TF_KORUMain::guarded(const std::function<void()>& handler) {
    dialogs::Guarded(this, handler);
}

// The state panel tells how the last start went: "Failed" (the reason in its tip) until a
// start succeeds.
void TF_KORUMain::StartServer() {
    try {
        Server_->StartServer();
    } catch (const std::exception& e) {
        // Read before anything else makes a socket call: the port note needs the failure's code.
        const int32_t code = platform::LastSocketError();
        ServerPage_->Notes().ShowStartFailure(
            code, CheckPortText(ServerSettings_.ListenPort).port.value_or(0));
        SetStatusText(2, kFailedState);
        panels_[2]->setToolTip(QString::fromLocal8Bit(e.what()));
        throw;
    }
    ServerPage_->Notes().ClearStartFailure();
    if (StatusText(2) == kFailedState) {
        SetStatusText(2, kStateCaption);
        panels_[2]->setToolTip(QString());
    }
}

void TF_KORUMain::StopServer() {
    Server_->StopServer();
}

void TF_KORUMain::StartAtStartup() {
    try {
        StartServer();
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        if (isVisible())
            dialogs::ShowNotice(this, text);
        else
            RxTray1_->ShowMessage(QStringLiteral("KORU could not start"), text);
    }
}

void TF_KORUMain::RestoreSettings() {
    try {
        ::RestoreSettings(ServerSettings_, MimeTable_);
    } catch (...) {
        SettingsPage_->Show();
        showReachInForce();
        throw;
    }
    SettingsPage_->Show();
    showReachInForce();
}

// A narrower reach holds at once, also one restored from the store: the Server tab says so while
// the server listens.
void TF_KORUMain::showReachInForce() {
    if (listeningPort_)
        ShowListening(*listeningPort_);
}

void TF_KORUMain::SaveSettings() {
    try {
        SettingsPage_->ShowSaved(::SaveSettings(ServerSettings_, MimeTable_));
    } catch (...) {
        SettingsPage_->ShowSaved({});
        throw;
    }
}

void TF_KORUMain::showPlugins() {
    ui_->pgLB->clear();
    ui_->pgLB->addItems(Plugins_.Lines());
    // Files the scan skipped are named too: a module that does not appear must say why.
    ui_->pgLB->addItems(Plugins_.Skipped());
}

void TF_KORUMain::Button6Click() {
    if (RxTray1_->Service().Available())
        hide();
    else
        showMinimized(); // nowhere to hide to: the window must stay reachable
}

void TF_KORUMain::RxTray1Click() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TF_KORUMain::keyPressEvent(QKeyEvent* event) {
    // Hide is the window's default and cancel button: Enter and Esc that no control took. A push
    // button outside a dialog leaves Enter to its window, but the user pressing Enter on the
    // focused button means that button.
    const int key = event->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); enter && button) {
        button->click();
        event->accept();
        return;
    }
    if (enter || key == Qt::Key_Escape) {
        ui_->Button6->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TF_KORUMain::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed();
}

void TF_KORUMain::SetCaption(const QString& caption) {
    setWindowTitle(caption);
}
QString TF_KORUMain::Caption() const {
    return windowTitle();
}
void TF_KORUMain::SetTrayHint(const QString& hint) {
    RxTray1_->SetHint(hint);
}
// The Server page follows what the listener tells the window.
void TF_KORUMain::ShowListening(uint16_t port) {
    listeningPort_ = port;
    ServerPage_->ShowListening(port, Server_->GetBasePath(), Server_->ReachInForce());
    // The port field follows the bound port (the setting may say 0) until the user edits it.
    if (firstRun_ && !ui_->Edit8->isModified())
        ui_->Edit8->setText(QString::number(port));
    trayIcons_->ShowListening();
}
void TF_KORUMain::ShowStopped() {
    listeningPort_.reset();
    ServerPage_->ShowStopped();
    trayIcons_->ShowStopped();
}
QString TF_KORUMain::TrayHint() const {
    return RxTray1_->Hint();
}

void TF_KORUMain::SetStartEnabled(bool enabled) {
    ui_->ListenBtn->setEnabled(enabled);
    Start1_->setEnabled(enabled);
}

void TF_KORUMain::SetStopEnabled(bool enabled) {
    ui_->StopBtn->setEnabled(enabled);
    Stop1_->setEnabled(enabled);
}

void TF_KORUMain::SetStatusText(int panel, const QString& text) {
    if (panel < 0 || panel >= 3)
        return;
    // Counts come throttled by the server's hand-off; the other texts are rare.
    panels_[panel]->setText(text);
}

QString TF_KORUMain::StatusText(int panel) const {
    if (panel < 0 || panel >= 3)
        return {};
    return panels_[panel]->text();
}
