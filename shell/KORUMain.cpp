#include "shell/KORUMain.h"

#include <QGridLayout>
#include <QLabel>

#include "config/HomeTool.h"
#include "net/WSocket.h"
#include "platform/FilePath.h"
#include "server/ServerControl.h"
#include "shell/Dialogs.h"
#include "shell/DockLayout.h"
#include "shell/LCDate.h"
#include "shell/MainLayout.h"
#include "shell/Mover.h"
#include "shell/RxTray.h"
#include "shell/ServerPage.h"
#include "ui_KORUMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

#include <array>

TF_KORUMain* F_KORUMain = nullptr;

namespace {

constexpr std::array<int, 3> kPanelWidths{80, 90, 50};
// Workers' counts reach the UI thread within 10 ms (their calls are coalesced that long); with
// this delay the panels show them within 40 ms.
constexpr int kStatusDelayMs = 25;
const QString kMarker = QStringLiteral("\r\n===== From Server ====\r\n");
const QString kStateCaption = kStatePanelCaption;
const QString kFailedState = QStringLiteral("Failed");

void setTextQuietly(QLineEdit& edit, const QString& text) {
    const QSignalBlocker blocker(edit);
    edit.setText(text);
}

QString listeningCaption() {
    return QStringLiteral("Server: ") + StateDisplayText(wsListening);
}

} // namespace

std::optional<quint16> ListeningPortOf(const QString& trayHint) {
    const QString prefix = listeningCaption() + QStringLiteral(" on port ");
    if (!trayHint.startsWith(prefix))
        return std::nullopt;
    bool ok = false;
    const quint16 port = trayHint.mid(prefix.size()).toUShort(&ok);
    return ok && port != 0 ? std::optional<quint16>(port) : std::nullopt;
}

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
    CSock_ = std::make_unique<TWSocket>();
    LCDate1_ = new TLCDate(this);
    createTray(std::move(tray));
    createServerPage();
    createClientPage();
    createStatusBar();
    connectServerControls();
    connectSettingsFields();
    connectMimeEditor();
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
    CSock_->OnChangeState = nullptr;
    CSock_->OnDataAvailable = nullptr;
    context_.requestLogged = nullptr;
    if (F_KORUMain == this)
        F_KORUMain = nullptr;
}

void TF_KORUMain::FormCreate() {
    RegRoot = platform::StoreRoot::MachineWide;
    RxTray1_->SetIcon(QIcon(QStringLiteral(":/icons/koru-256.png")));
    ui_->Label7->setText(AboutText());
    // A store that cannot be read is an earlier run's, damaged: never a first run, and said so.
    const QString unreadable = StoreProblem();
    firstRun_ = unreadable.isEmpty() && !SettingsStored();
    if (!unreadable.isEmpty()) {
        const QString text =
            unreadable + QStringLiteral(" KORU starts with the settings of an earlier "
                                        "version's store; saving the settings replaces it.");
        QTimer::singleShot(0, this, [this, text] { dialogs::ShowNotice(this, text); });
    }
    // A damaged store must not keep the program from starting: the values read before the bad
    // one stay, the rest start from their defaults, and the user is told once the loop runs,
    // when the window is shown or in the tray as start-up left it.
    ::ResetSettings(ServerSettings_, MimeTable_);
    try {
        RestoreSettings();
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        // A box rather than a tray message: it stays until read, and a save made before
        // reading it would replace the stored values with the defaults.
        QTimer::singleShot(0, this, [this, text] { dialogs::ShowNotice(this, text); });
    }
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
    ServerPage_ = new TServerPage(ui_->TabSheet1);
    PlaceServerPage(*ui_->TabSheet1, *ui_->Label7, *ServerPage_);
    PM2_->insertAction(Start1_, &ServerPage_->OpenInBrowser());
    context_.requestLogged = [this](const QByteArray& line) { ServerPage_->AddRequest(line); };
}

void TF_KORUMain::createClientPage() {
    QWidget* page = ui_->TabSheet4;
    auto* dock = new TDockLayout(page);
    Mover1_ = new TMover(page);
    Mover1_->setObjectName(QStringLiteral("Mover1"));
    Mover1_->resize(3, page->height());
    Mover1_->SetBeveled(false);
    dock->addWidget(ui_->Panel2, TAlign::Left);
    dock->addWidget(ui_->Memo1, TAlign::Left);
    dock->addWidget(Mover1_, TAlign::Left);
    dock->addWidget(ui_->Memo2, TAlign::Client);
    Mover1_->SetAlign(TAlign::Left);
    CSock_->SetProto("tcp");
    CSock_->OnChangeState = [this](TCustomWSocket* s, TSocketState o, TSocketState n) {
        CSockChangeState(s, o, n);
    };
    CSock_->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { CSockDataAvailable(s, e); };
    connect(ui_->Button7, &QPushButton::clicked, this, &TF_KORUMain::Button7Click);
    connect(ui_->Button10, &QPushButton::clicked, this, &TF_KORUMain::Button10Click);
    connect(ui_->Button9, &QPushButton::clicked, this, &TF_KORUMain::Button9Click);
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
    statusTimer_ = new QTimer(this);
    statusTimer_->setSingleShot(true);
    statusTimer_->setInterval(kStatusDelayMs);
    connect(statusTimer_, &QTimer::timeout, this, &TF_KORUMain::showStatus);
}

void TF_KORUMain::showStatus() {
    for (int i = 0; i < 3; ++i)
        if (!pendingStatus_[i].isNull())
            panels_[i]->setText(std::exchange(pendingStatus_[i], QString()));
}

void TF_KORUMain::connectServerControls() {
    connect(ui_->ListenBtn, &QPushButton::clicked, this, &TF_KORUMain::ListenBtnClick);
    connect(ui_->StopBtn, &QPushButton::clicked, this, &TF_KORUMain::StopBtnClick);
    connect(ui_->Button6, &QPushButton::clicked, this, &TF_KORUMain::Button6Click);
    connect(ui_->Button4, &QPushButton::clicked, this, &TF_KORUMain::Button4Click);
    connect(ui_->Button11, &QPushButton::clicked, this, &TF_KORUMain::Button11Click);
    Plugins_.OnChanged = [this] { showPlugins(); };
    Plugins_.OnProblem = [this](const QString& problem) { SetStatusText(2, problem); };
}

void TF_KORUMain::connectSettingsFields() {
    const auto bind = [this](QLineEdit* edit, QString ServerSettings::*field) {
        connect(edit, &QLineEdit::textChanged, this,
                [this, field](const QString& text) { ServerSettings_.*field = text; });
    };
    bind(ui_->Edit1, &ServerSettings::BaseFolder);
    bind(ui_->Edit2, &ServerSettings::BaseFileName);
    bind(ui_->Edit3, &ServerSettings::TempPath);
    bind(ui_->Edit4, &ServerSettings::ListenPort);
    bind(ui_->Edit6, &ServerSettings::PluginsPath);
    bind(ui_->Edit12, &ServerSettings::LogFile);
    bind(ui_->Edit13, &ServerSettings::IdleSeconds);
    bind(ui_->Edit14, &ServerSettings::UploadPath);
    bind(ui_->Edit15, &ServerSettings::MasterCommand);
    for (QLineEdit* folder : {ui_->Edit1, ui_->Edit6})
        connect(folder, &QLineEdit::textChanged, this, [this] { showPluginsPlace(); });
    connect(ui_->Edit10, &QLineEdit::textChanged, this,
            [this](const QString& text) { ServerSettings_.PageHeader = text; });
    connect(ui_->Edit11, &QLineEdit::textChanged, this,
            [this](const QString& text) { ServerSettings_.PageFooter = text; });
    const auto bindFlag = [this](QCheckBox* box, bool ServerSettings::*flag) {
        connect(box, &QCheckBox::toggled, this,
                [this, flag](bool on) { ServerSettings_.*flag = on; });
    };
    bindFlag(ui_->CheckBox1, &ServerSettings::ShowPeers);
    bindFlag(ui_->CheckBox2, &ServerSettings::AutoClose);
    bindFlag(ui_->CheckBox5, &ServerSettings::LogEnabled);
    bindFlag(ui_->CheckBox4, &ServerSettings::HideOnStartup);
    connect(ui_->BaseFolderBtn, &QPushButton::clicked, this,
            [this] { PickFolder(*ui_->Edit1, QStringLiteral("Select base folder")); });
    connect(ui_->TempPathBtn, &QPushButton::clicked, this,
            [this] { PickFolder(*ui_->Edit3, QStringLiteral("Select temporary folder")); });
    connect(ui_->PluginsPathBtn, &QPushButton::clicked, this,
            [this] { PickFolder(*ui_->Edit6, QStringLiteral("Select folder for plugins")); });
    connect(ui_->UploadPathBtn, &QPushButton::clicked, this,
            [this] { PickFolder(*ui_->Edit14, QStringLiteral("Select folder for uploads")); });
    connect(ui_->LogFileBtn, &QPushButton::clicked, this, &TF_KORUMain::LogFileClick);
    connect(ui_->BaseFileBtn, &QPushButton::clicked, this, &TF_KORUMain::BaseFileClick);
}

void TF_KORUMain::connectMimeEditor() {
    MimeTable_.OnChanged = [this] { showMime(); };
    connect(ui_->LB, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!showingSettings_ && row >= 0 && row != MimeTable_.Selected())
            MimeTable_.Select(row);
    });
    connect(ui_->LB, &QListWidget::itemClicked, this,
            [this] { MimeTable_.Select(ui_->LB->currentRow()); });
    connect(ui_->Edit5, &QLineEdit::textEdited, this,
            [this](const QString& text) { MimeTable_.Edit5Change(text); });
    connect(ui_->AddBtn, &QPushButton::clicked, this, &TF_KORUMain::AddBtnClick);
    connect(ui_->DropBtn, &QPushButton::clicked, this,
            [this] { guarded([this] { MimeTable_.DropBtnClick(); }); });
    connect(ui_->ChangeBtn, &QPushButton::clicked, this,
            [this] { guarded([this] { MimeTable_.ChangeBtnClick(); }); });
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
        SetStatusText(2, kFailedState);
        panels_[2]->setToolTip(QString::fromLocal8Bit(e.what()));
        throw;
    }
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
        showSettings();
        throw;
    }
    showSettings();
}

void TF_KORUMain::SaveSettings() {
    ::SaveSettings(ServerSettings_, MimeTable_);
}

void TF_KORUMain::showSettings() {
    showingSettings_ = true;
    const ServerSettings& s = ServerSettings_;
    setTextQuietly(*ui_->Edit1, s.BaseFolder);
    setTextQuietly(*ui_->Edit2, s.BaseFileName);
    setTextQuietly(*ui_->Edit3, s.TempPath);
    setTextQuietly(*ui_->Edit4, s.ListenPort);
    setTextQuietly(*ui_->Edit6, s.PluginsPath);
    setTextQuietly(*ui_->Edit10, s.PageHeader.get());
    setTextQuietly(*ui_->Edit11, s.PageFooter.get());
    setTextQuietly(*ui_->Edit12, s.LogFile);
    setTextQuietly(*ui_->Edit13, s.IdleSeconds);
    setTextQuietly(*ui_->Edit14, s.UploadPath);
    setTextQuietly(*ui_->Edit15, s.MasterCommand);
    const std::array<std::pair<QCheckBox*, bool>, 4> boxes{{{ui_->CheckBox1, s.ShowPeers},
                                                            {ui_->CheckBox2, s.AutoClose},
                                                            {ui_->CheckBox5, s.LogEnabled},
                                                            {ui_->CheckBox4, s.HideOnStartup}}};
    for (const auto& [box, on] : boxes) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
    }
    showPluginsPlace();
    showingSettings_ = false;
}

void TF_KORUMain::showMime() {
    showingSettings_ = true;
    QListWidget& list = *ui_->LB;
    const QStringList& lines = MimeTable_.Lines();
    if (list.count() != lines.size()) {
        list.clear();
        list.addItems(lines);
    } else {
        for (int i = 0; i < lines.size(); ++i)
            if (list.item(i)->text() != lines[i])
                list.item(i)->setText(lines[i]);
    }
    list.setCurrentRow(MimeTable_.Selected());
    setTextQuietly(*ui_->Edit5, MimeTable_.Edit5());
    ui_->DropBtn->setEnabled(MimeTable_.DropEnabled());
    ui_->ChangeBtn->setEnabled(MimeTable_.ChangeEnabled());
    showingSettings_ = false;
}

// A warning under the folders while the plug-ins folder lies inside the base folder.
void TF_KORUMain::showPluginsPlace() {
    if (pluginsInsideBase_ == nullptr) {
        pluginsInsideBase_ = new QLabel(
            QStringLiteral("The plug-ins folder lies inside the base folder: visitors can "
                           "download the module files, and uploads into it are refused."),
            ui_->GroupBox2);
        pluginsInsideBase_->setObjectName(QStringLiteral("PluginsInsideBase"));
        pluginsInsideBase_->setWordWrap(true);
        if (auto* grid = qobject_cast<QGridLayout*>(ui_->GroupBox2->layout()))
            grid->addWidget(pluginsInsideBase_, grid->rowCount(), 1, 1, 2);
    }
    pluginsInsideBase_->setVisible(PluginsInsideBase(ServerSettings_));
}

void TF_KORUMain::showPlugins() {
    ui_->pgLB->clear();
    ui_->pgLB->addItems(Plugins_.Lines());
    // Files the scan skipped are named too: a module that does not appear must say why.
    ui_->pgLB->addItems(Plugins_.Skipped());
}

void TF_KORUMain::AddBtnClick() {
    const std::optional<QString> extension =
        dialogs::InputText(this, QStringLiteral("Enter value"), QStringLiteral("New extention"),
                           QStringLiteral("ext"));
    if (extension)
        guarded([&] { MimeTable_.AddBtnClick(*extension); });
}

bool TF_KORUMain::PickFolder(QLineEdit& field, const QString& title) {
    const QString folder = dialogs::BrowseForFolder(this, QString(), title);
    if (folder.isEmpty())
        return false;
    field.setText(AddBackslash(folder));
    return true;
}

void TF_KORUMain::LogFileClick() {
    if (PickFolder(*ui_->Edit12, QStringLiteral("Select .log file folder")))
        ui_->Edit12->setText(ui_->Edit12->text() + QStringLiteral("KORU.LOG"));
}

// The chosen file must lie under the base folder; what is kept is the part after it.
void TF_KORUMain::BaseFileClick() {
    const QString base = platform::ToFsPath(AddBackslash(ServerSettings_.BaseFolder));
    const QString chosen =
        dialogs::OpenFile(this, base, QStringLiteral("HTML files (*.htm *.html);;All files (*)"));
    if (chosen.isEmpty())
        return;
    if (!chosen.startsWith(base, Qt::CaseSensitive)) {
        dialogs::ShowMessage(this, QStringLiteral("Invalid path"));
        return;
    }
    ui_->Edit2->setText(chosen.mid(base.size()).left(256));
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

// The listener sets the caption on every change of its state, and then the tray hint, which names
// the port it bound once it listens: the Server page follows what the window is told there.
void TF_KORUMain::SetCaption(const QString& caption) {
    setWindowTitle(caption);
    if (caption != listeningCaption())
        ServerPage_->ShowStopped();
}
QString TF_KORUMain::Caption() const {
    return windowTitle();
}
void TF_KORUMain::SetTrayHint(const QString& hint) {
    RxTray1_->SetHint(hint);
    if (const std::optional<quint16> port = ListeningPortOf(hint))
        ServerPage_->ShowListening(*port, Server_->GetBasePath());
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
    pendingStatus_[panel] = text;
    if (!statusTimer_->isActive())
        statusTimer_->start();
}

QString TF_KORUMain::StatusText(int panel) const {
    if (panel < 0 || panel >= 3)
        return {};
    return pendingStatus_[panel].isNull() ? panels_[panel]->text() : pendingStatus_[panel];
}

// The test client ---------------------------------------------------------------------------

void TF_KORUMain::Button7Click() {
    guarded([this] {
        CSock_->SetAddr(ui_->Edit7->text().toStdString());
        CSock_->SetPort(ui_->Edit8->text().toStdString());
        bool ok = false;
        const int timeout = ui_->Edit9->text().trimmed().toInt(&ok);
        if (!ok)
            throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value")
                                         .arg(ui_->Edit9->text())
                                         .toStdString());
        CSock_->SetFlushTimeout(timeout);
        CSock_->Connect();
    });
}

void TF_KORUMain::Button10Click() {
    QString text = ui_->Memo1->toPlainText();
    if (text.isEmpty())
        return;
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    // The client speaks bytes: one character is one byte, both ways.
    const QByteArray bytes = text.toLatin1();
    guarded([&] { CSock_->Send(bytes.constData(), static_cast<int32_t>(bytes.size())); });
}

void TF_KORUMain::Button9Click() {
    guarded([this] { CSock_->Abort(); });
}

void TF_KORUMain::CSockChangeState(TCustomWSocket*, int, int newState) {
    const bool closed = newState == wsInvalidState || newState == wsClosed;
    ui_->Button7->setEnabled(closed);
    ui_->Button10->setEnabled(newState == wsConnected);
    ui_->Button9->setEnabled(!closed);
}

void TF_KORUMain::CSockDataAvailable(TCustomWSocket*, uint16_t) {
    std::vector<char> buffer(65536);
    const int32_t n = CSock_->Receive(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n <= 0)
        return;
    QPlainTextEdit& memo = *ui_->Memo2;
    memo.moveCursor(QTextCursor::End);
    memo.insertPlainText(kMarker + QString::fromLatin1(buffer.data(), n));
}
