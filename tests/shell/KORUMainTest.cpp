#include "net/WSocket.h"
#include "config/HomeTool.h"
#include "platform/Thread.h"
#include "server/ServerControl.h"
#include "shell/Dialogs.h"
#include "shell/KORUMain.h"
#include "shell/Mover.h"
#include "shell/RxTray.h"
#include "shell/TrayServiceFake.h"
#include "ui_KORUMain.h"

#include "support/TempStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool waitUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void key(QWidget* target, int code, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}

// A listening socket on 127.0.0.1 that the test drives by hand.
struct RawListener {
    RawListener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(fd, 4);
        socklen_t length = sizeof(address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~RawListener() { ::close(fd); }
    int fd;
    uint16_t port;
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetUiCalls();
        dialogs::SetRecording(true);
        dialogs::TakeMessages();
        open();
    }
    // A window as the program creates it at start-up, from what the store holds now.
    void open() {
        window.reset();
        auto fake = std::make_unique<RecordingTrayService>();
        tray = fake.get();
        window = std::make_unique<TF_KORUMain>(std::move(fake));
        ui = &window->UI();
    }
    void TearDown() override {
        if (!window)
            return;
        window->StopServer();
        waitUntil([] { return platform::TThread::RunningCount() == 0; });
        window.reset();
        dialogs::SetRecording(false);
    }
    QLabel* panel(int i) { return window->findChild<QLabel*>(QStringLiteral("SB1Panel%1").arg(i)); }
    uint16_t startOnFreePort() {
        ui->Edit4->setText("0");
        ui->Edit1->setText(docroot.path());
        ui->ListenBtn->click();
        return static_cast<uint16_t>(std::stoi(window->Server().Socket().GetLocalPort()));
    }

    TempStore store;
    QTemporaryDir docroot;
    RecordingTrayService* tray = nullptr;
    std::unique_ptr<TF_KORUMain> window;
    Ui::TF_KORUMain* ui = nullptr;
};

} // namespace

TEST_F(MainWindow, InitialStateFromAnEmptyStore) {
    EXPECT_EQ(window->windowTitle(), "Server");
    EXPECT_EQ(window->size(), QSize(574, 428));
    EXPECT_EQ(ui->PageControl1->currentWidget(), ui->TabSheet1);
    EXPECT_FALSE(ui->StopBtn->isEnabled());
    EXPECT_TRUE(ui->ListenBtn->isEnabled());
    EXPECT_FALSE(ui->Button8->isEnabled());
    EXPECT_TRUE(ui->Button7->isEnabled());
    EXPECT_FALSE(ui->Button10->isEnabled());
    EXPECT_FALSE(ui->Button9->isEnabled());
    EXPECT_EQ(panel(0)->text(), "Clients: 0");
    EXPECT_EQ(panel(1)->text(), "Requests: 0");
    EXPECT_EQ(panel(2)->text(), "State");
    EXPECT_EQ(ui->Edit4->text(), "8080");
    EXPECT_EQ(ui->Edit13->text(), "40");
    EXPECT_TRUE(ui->CheckBox4->isChecked());
    EXPECT_TRUE(ui->CheckBox5->isChecked());
    EXPECT_EQ(ui->LB->count(), 63);
    EXPECT_TRUE(window->ShowAtStartup()) << "a first run shows the window";
    EXPECT_EQ(RegRoot, platform::StoreRoot::MachineWide);
    EXPECT_TRUE(tray->Shown()) << "the application icon goes to the tray at once";

    const QStringList lines = ui->Label7->text().split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[2].startsWith("Version 0.4 (Last compilation: ")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith(")"));
    EXPECT_EQ(lines[3], "Plugins level: 2");
}

TEST_F(MainWindow, WithoutNotificationAreaTheWindowStaysReachable) {
    tray->available = false;
    window->show();
    ui->Button6->click();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(MainWindow, StartStopAndAFailedStartShowTheirStates) {
    const QString hint = "Server: Listening on port " + QString::number(startOnFreePort());
    EXPECT_EQ(window->windowTitle(), "Server: Listening");
    EXPECT_EQ(window->RxTray1().Hint(), hint) << "the port bound, not the setting's 0";
    EXPECT_EQ(tray->Current()->tip, hint);
    EXPECT_FALSE(ui->ListenBtn->isEnabled());
    EXPECT_TRUE(ui->StopBtn->isEnabled());
    // The first item opens the browser (see ServerPageTest); the server's own items follow.
    const QList<QAction*> items = window->PM2().actions().mid(1);
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0]->text(), "&Start");
    EXPECT_EQ(items[1]->text(), "S&top");
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text(), "&Exit");
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_TRUE(items[1]->isEnabled());

    ui->StopBtn->click();
    EXPECT_EQ(window->windowTitle(), "Server: Stopped");
    EXPECT_EQ(window->RxTray1().Hint(), "Server: Stopped");
    EXPECT_TRUE(ui->ListenBtn->isEnabled() && items[0]->isEnabled());
    EXPECT_FALSE(ui->StopBtn->isEnabled() || items[1]->isEnabled());

    RawListener busy;
    ui->Edit4->setText(QString::number(busy.port));
    ui->ListenBtn->click();
    const std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Error 10048 in function Bind")) << messages[0].toStdString();
    EXPECT_TRUE(ui->ListenBtn->isEnabled()) << "a failed start leaves the server startable";

    window->StartAtStartup(); // hidden: the failure goes to the tray
    EXPECT_EQ(window->StatusText(2), "Failed");
    EXPECT_TRUE(waitUntil([&] { return panel(2)->text() == "Failed"; }));
    ASSERT_EQ(tray->messages.size(), 1u);
    EXPECT_EQ(tray->messages[0], "KORU could not start\n" + messages[0])
        << "the title, then the whole error";
}

TEST_F(MainWindow, CountersMoveWithRealConnections) {
    QFile index(docroot.path() + "/Index.Htm");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("hi");
    index.close();
    const uint16_t port = startOnFreePort();
    auto reply = std::async(std::launch::async, [port] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        const char request[] = "GET / HTTP/1.0\r\n\r\n";
        ::send(fd, request, sizeof(request) - 1, 0);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        return text;
    });
    ASSERT_TRUE(waitUntil([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(reply.get().ends_with("\r\n\r\nhi"));
    EXPECT_EQ(window->StatusText(1), "Requests: 1");
    EXPECT_TRUE(waitUntil([&] { return panel(0)->text() == "Clients: 0"; }));
    EXPECT_TRUE(waitUntil([&] { return panel(1)->text() == "Requests: 1"; }));
}

TEST_F(MainWindow, EnterAndEscHideTrayClickShows) {
    window->show();
    ui->PageControl1->setCurrentWidget(ui->TabSheet4);
    key(ui->Memo1, Qt::Key_Return, "\r");
    EXPECT_TRUE(window->isVisible()) << "a memo takes Enter itself";
    key(ui->Edit8, Qt::Key_Return, "\r");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(tray->Shown()) << "the tray icon stays";
    tray->Press(TrayMouse::LeftRelease);
    EXPECT_TRUE(window->isVisible());
    key(ui->Edit4, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindow, TrayMenuStartsStopsAndExits) {
    ui->Edit4->setText("0");
    QAction* start = window->PM2().actions()[1];
    QAction* stop = window->PM2().actions()[2];
    QAction* exit = window->PM2().actions()[4];
    tray->choose = [&](QMenu&) { start->trigger(); };
    tray->Press(TrayMouse::RightRelease);
    ASSERT_EQ(tray->popups.size(), 1u);
    EXPECT_EQ(tray->popups[0].menu, &window->PM2());
    EXPECT_EQ(window->windowTitle(), "Server: Listening");
    tray->choose = [&](QMenu&) { stop->trigger(); };
    tray->Press(TrayMouse::RightRelease);
    EXPECT_EQ(window->windowTitle(), "Server: Stopped");
    int closed = 0;
    QObject::connect(window.get(), &TF_KORUMain::Closed, [&] { ++closed; });
    tray->choose = [&](QMenu&) { exit->trigger(); };
    tray->Press(TrayMouse::RightRelease);
    EXPECT_EQ(closed, 1);
}

TEST_F(MainWindow, MimeEditorAddDropChange) {
    ui->PageControl1->setCurrentWidget(ui->TabSheet2);
    ui->PageControl2->setCurrentWidget(ui->TabSheet6);
    dialogs::SetNextAnswer(QString("gif"));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), 63);
    EXPECT_EQ(ui->LB->item(14)->text(), "gif --> type/info");
    EXPECT_EQ(ui->LB->currentRow(), 14);
    dialogs::SetNextAnswer(QString("new"));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), 64);
    EXPECT_EQ(ui->LB->currentRow(), 63);
    EXPECT_EQ(ui->Edit5->text(), "type/info");
    EXPECT_FALSE(ui->ChangeBtn->isEnabled());

    ui->Edit5->setFocus();
    key(ui->Edit5, Qt::Key_X, "x");
    EXPECT_TRUE(ui->ChangeBtn->isEnabled()) << "typing in the type field enables Change";
    ui->ChangeBtn->click();
    EXPECT_EQ(window->Mime().LookupMIME("new"), "type/infox");
    EXPECT_EQ(ui->LB->item(63)->text(), "new --> type/infox");

    ui->DropBtn->click();
    EXPECT_EQ(ui->LB->count(), 63);
    EXPECT_EQ(ui->LB->currentRow(), 62);

    dialogs::SetNextAnswer(std::nullopt);
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), 63) << "Cancel adds nothing";
    dialogs::SetNextAnswer(QString("bad\"ext"));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), 63);
    EXPECT_EQ(dialogs::TakeMessages().size(), 1u);
    dialogs::SetNextAnswer(QString(""));
    ui->AddBtn->click();
    EXPECT_EQ(ui->LB->count(), 63);
    EXPECT_EQ(dialogs::TakeMessages().size(), 1u);
}

TEST_F(MainWindow, FieldsFeedTheLiveSettingsAndSaveRestoreRoundTrip) {
    ui->Edit10->setText("<h>");
    ui->CheckBox4->setChecked(false);
    EXPECT_EQ(window->Settings().PageHeader.get(), "<h>");
    EXPECT_FALSE(window->Settings().HideOnStartup);
    ui->Button4->click();
    EXPECT_TRUE(dialogs::TakeMessages().empty());
    ui->Edit10->setText("unsaved");
    ui->Button11->click();
    EXPECT_EQ(ui->Edit10->text(), "<h>");
    EXPECT_FALSE(ui->CheckBox4->isChecked());
}

TEST_F(MainWindow, DamagedValueInTheStoreStillOpensTheWindowAndIsReported) {
    QDir().mkpath(store.systemDir() + "/Quillbrook");
    QFile file(store.systemDir() + "/Quillbrook/Projects.conf");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // The unquoted comma makes the header read as a list, not as text.
    file.write("[KORU]\nSettings\\CBoxes=1000\nSettings\\Edit1=/srv/www/\n"
               "Settings\\Edit4=8080\nSettings\\Edit10=<html><body>Welcome, friend\n"
               "Settings\\Edit12=/var/log/koru.log\nSettings\\Edit13=5\n"
               "Settings\\MIME=\"a\"=\"b/c\"\n");
    file.close();
    ASSERT_NO_THROW(open());

    EXPECT_EQ(ui->Edit1->text(), "/srv/www/");
    EXPECT_EQ(ui->Edit4->text(), "8080");
    EXPECT_EQ(window->Settings().ListenPort, "8080");
    EXPECT_FALSE(ui->CheckBox4->isChecked());
    EXPECT_EQ(ui->Edit10->text(), "<html><body bgcolor=#c0c0c0>");
    EXPECT_EQ(ui->Edit12->text(), store.stateDir() + "/koru/KORU.Log");
    EXPECT_EQ(window->Settings().LogFile, store.stateDir() + "/koru/KORU.Log");
    EXPECT_EQ(ui->Edit13->text(), "40");
    EXPECT_EQ(ui->LB->count(), 63) << "the MIME table after the bad value is the built-in one";

    QApplication::processEvents();
    std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("Edit10")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("Quillbrook/Projects.conf")) << messages[0].toStdString();

    ui->Edit13->setText("7");
    ui->Button11->click();
    messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u) << "Restore still says why it stopped";
    EXPECT_TRUE(messages[0].contains("Edit10"));
    EXPECT_EQ(ui->Edit13->text(), "7") << "Restore keeps what it did not get to";
}

TEST_F(MainWindow, SaveThatCannotWriteSaysWhereAndWhy) {
    QFile blocker(store.systemDir() + "/Quillbrook");
    QDir().mkpath(store.systemDir());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ui->Button4->click();
    const std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("Quillbrook/Projects.conf")) << messages[0].toStdString();
}

TEST_F(MainWindow, PickersFillTheirFields) {
    const QString base = docroot.path() + "/";
    ui->Edit1->setText(base);
    dialogs::SetNextAnswer(base + "docs/a.htm");
    ui->BaseFileBtn->click();
    EXPECT_EQ(ui->Edit2->text(), "docs/a.htm");
    dialogs::SetNextAnswer(QString("/elsewhere/a.htm"));
    ui->BaseFileBtn->click();
    EXPECT_EQ(ui->Edit2->text(), "docs/a.htm");
    dialogs::SetNextAnswer(base.toUpper() + "b.htm");
    ui->BaseFileBtn->click();
    EXPECT_EQ(ui->Edit2->text(), "docs/a.htm");
    EXPECT_EQ(dialogs::TakeMessages(), (std::deque<QString>{"Invalid path", "Invalid path"}));

    dialogs::SetNextAnswer(QString("/var/logs"));
    ui->LogFileBtn->click();
    EXPECT_EQ(ui->Edit12->text(), "/var/logs\\KORU.LOG");
    dialogs::SetNextAnswer(std::nullopt);
    ui->LogFileBtn->click();
    EXPECT_EQ(ui->Edit12->text(), "/var/logs\\KORU.LOG");
    dialogs::SetNextAnswer(QString("/srv/plugins/"));
    ui->PluginsPathBtn->click();
    EXPECT_EQ(window->Settings().PluginsPath, "/srv/plugins/");
}

TEST_F(MainWindow, ClientPageLayoutAndSplitter) {
    window->show();
    ui->PageControl1->setCurrentWidget(ui->TabSheet4);
    QApplication::processEvents();
    EXPECT_GE(ui->Panel2->width(), 133) << "wider only where its buttons need it";
    EXPECT_EQ(ui->Memo1->width(), 201);
    EXPECT_EQ(window->Mover1().width(), 3);
    EXPECT_EQ(window->Mover1().FindSizedControl(), ui->Memo1);
    EXPECT_EQ(ui->Memo2->x(), ui->Panel2->width() + 201 + 3);
}

TEST_F(MainWindow, TestClientTalksToARealServer) {
    QFile index(docroot.path() + "/Index.Htm");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("<p>served</p>");
    index.close();
    const uint16_t port = startOnFreePort();
    ui->Edit7->setText("127.0.0.1");
    ui->Edit8->setText(QString::number(port));
    ui->Button10->click();
    ui->Button7->click();
    ASSERT_TRUE(waitUntil([&] { return ui->Button10->isEnabled(); }));
    EXPECT_FALSE(ui->Button7->isEnabled());
    EXPECT_TRUE(ui->Button9->isEnabled());
    ui->Button10->click(); // an empty memo sends nothing
    ui->Memo1->setPlainText("GET / HTTP/1.0\n\n");
    ui->Button10->click();
    ASSERT_TRUE(waitUntil([&] { return ui->Button7->isEnabled(); })) << "the server closes";
    const QString transcript = ui->Memo2->toPlainText();
    EXPECT_TRUE(transcript.startsWith("\n===== From Server ====\nHTTP/1.0 200 OK"))
        << transcript.toStdString();
    EXPECT_TRUE(transcript.endsWith("<p>served</p>"));
}

TEST_F(MainWindow, TestClientShowsEveryChunkWithItsMarkerEvenOneByte) {
    RawListener server;
    ui->Edit7->setText("127.0.0.1");
    ui->Edit8->setText(QString::number(server.port));
    ui->Button7->click();
    const int peer = ::accept(server.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(waitUntil([&] { return ui->Button10->isEnabled(); }));
    ::send(peer, "A", 1, 0);
    ASSERT_TRUE(waitUntil([&] { return ui->Memo2->toPlainText().endsWith("A"); }));
    ::send(peer, "BC", 2, 0);
    ASSERT_TRUE(waitUntil([&] { return ui->Memo2->toPlainText().endsWith("BC"); }));
    ::close(peer);
    ASSERT_TRUE(waitUntil([&] { return ui->Button7->isEnabled(); }));
    EXPECT_EQ(ui->Memo2->toPlainText(),
              "\n===== From Server ====\nA\n===== From Server ====\nBC");
}

TEST_F(MainWindow, TestClientRefusalsAndBadTimeout) {
    uint16_t unused;
    {
        RawListener gone;
        unused = gone.port;
    }
    ui->Edit7->setText("127.0.0.1");
    ui->Edit8->setText(QString::number(unused));
    ui->Button7->click();
    ASSERT_TRUE(waitUntil([&] { return window->CSock().State() == wsClosed; }));
    EXPECT_TRUE(ui->Button7->isEnabled());
    EXPECT_FALSE(ui->Button9->isEnabled());

    ui->Edit9->setText("abc");
    ui->Button7->click();
    const std::deque<QString> messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "'abc' is not a valid integer value");
    EXPECT_EQ(window->CSock().State(), wsClosed);
}

TEST_F(MainWindow, AbortWhileConnectingReturnsToClosed) {
    RawListener server; // never accepts: the connection completes in the kernel's queue
    ui->Edit7->setText("127.0.0.1");
    ui->Edit8->setText(QString::number(server.port));
    ui->Button7->click();
    EXPECT_TRUE(ui->Button9->isEnabled());
    ui->Button9->click();
    EXPECT_EQ(window->CSock().State(), wsClosed);
    EXPECT_TRUE(ui->Button7->isEnabled());
    EXPECT_FALSE(ui->Button9->isEnabled());
    EXPECT_FALSE(ui->Button10->isEnabled());
}
