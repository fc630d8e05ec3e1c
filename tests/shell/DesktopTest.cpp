// The window as a desktop user meets it: the first run, resizing, the keyboard, the status
// after a failed start and the test client's bytes.
#include "net/WSocket.h"
#include "platform/Thread.h"
#include "server/ServerControl.h"
#include "shell/Dialogs.h"
#include "shell/KORUMain.h"
#include "shell/TrayServiceFake.h"
#include "ui_KORUMain.h"

#include "support/TempStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
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

int connectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return fd;
}

// A whole HTTP exchange on a thread of its own: the server's workers wait for the UI thread.
std::future<std::string> fetchRoot(uint16_t port) {
    return std::async(std::launch::async, [port] {
        const int fd = connectTo(port);
        const char request[] = "GET / HTTP/1.0\r\n\r\n";
        ::send(fd, request, sizeof(request) - 1, MSG_NOSIGNAL);
        std::string reply;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            reply.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        return reply;
    });
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

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetUiCalls();
        dialogs::SetRecording(true);
        dialogs::TakeMessages();
        open();
    }
    void open() {
        window.reset();
        auto fake = std::make_unique<RecordingTrayService>();
        tray = fake.get();
        window = std::make_unique<TF_KORUMain>(std::move(fake));
        ui = &window->UI();
    }
    void TearDown() override {
        window->StopServer();
        waitUntil([] { return platform::TThread::RunningCount() == 0; });
        window.reset();
        dialogs::SetRecording(false);
    }
    QLabel* statePanel() { return window->findChild<QLabel*>(QStringLiteral("SB1Panel2")); }

    TempStore store;
    ScopedEnv home{"HOME", store.path() + "/user"};
    RecordingTrayService* tray = nullptr;
    std::unique_ptr<TF_KORUMain> window;
    Ui::TF_KORUMain* ui = nullptr;
};

} // namespace

TEST_F(Desktop, FirstRunShowsTheWindowServesThePublicFolderAndLogsOutsideIt) {
    EXPECT_TRUE(window->ShowAtStartup()) << "nothing saved yet: the window is shown";
    EXPECT_TRUE(ui->CheckBox4->isChecked()) << "Hide on startup keeps its default";
    const QString publicFolder = store.path() + "/user/Public/";
    EXPECT_EQ(ui->Edit4->text(), "8080");
    EXPECT_EQ(ui->Edit1->text(), publicFolder);
    EXPECT_EQ(ui->Edit14->text(), publicFolder + "Uploads/");
    EXPECT_EQ(ui->Edit6->text(), QCoreApplication::applicationDirPath() + "/plugins/");
    const QString log = store.stateDir() + "/koru/KORU.Log";
    EXPECT_EQ(ui->Edit12->text(), log);

    // Served on a free port rather than the default, which something else here may hold.
    ASSERT_TRUE(QDir().mkpath(publicFolder));
    QFile index(publicFolder + "Index.Htm");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("shared");
    index.close();
    ui->Edit4->setText("0");
    ui->ListenBtn->click();
    std::future<std::string> reply =
        fetchRoot(static_cast<uint16_t>(std::stoi(window->Server().Socket().GetLocalPort())));
    ASSERT_TRUE(waitUntil(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(reply.get().ends_with("\r\n\r\nshared"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(log); })) << "the log's folder is made";
    EXPECT_EQ(QDir(publicFolder).entryList(QDir::Files), QStringList{"Index.Htm"});

    ui->Button4->click();
    open();
    EXPECT_FALSE(window->ShowAtStartup()) << "once saved, Hide on startup is followed";
}

TEST_F(Desktop, AGoodStartClearsFailedFromTheStatusBar) {
    RawListener busy;
    ui->Edit4->setText(QString::number(busy.port));
    window->StartAtStartup();
    ASSERT_TRUE(waitUntil([&] { return statePanel()->text() == "Failed"; }));
    ui->Edit4->setText("0");
    ui->ListenBtn->click();
    EXPECT_EQ(window->Caption(), "Server: Listening");
    EXPECT_EQ(window->StatusText(2), "State");
    EXPECT_TRUE(waitUntil([&] { return statePanel()->text() == "State"; }));
    EXPECT_TRUE(statePanel()->toolTip().isEmpty());

    ui->StopBtn->click();
    ui->Edit4->setText(QString::number(busy.port));
    ui->ListenBtn->click();
    ASSERT_EQ(dialogs::TakeMessages().size(), 1u);
    EXPECT_EQ(window->StatusText(2), "Failed") << "a failed Start says so too";
    EXPECT_TRUE(statePanel()->toolTip().contains("10048"));
}

TEST_F(Desktop, TestClientCarriesEightBitTextUnchangedBothWays) {
    RawListener server;
    ui->Edit7->setText("127.0.0.1");
    ui->Edit8->setText(QString::number(server.port));
    ui->Button7->click();
    const int peer = ::accept(server.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(waitUntil([&] { return ui->Button10->isEnabled(); }));

    ::send(peer, "caf\xE9", 4, 0);
    const QString shown = QStringLiteral("caf") + QChar(0xE9);
    EXPECT_TRUE(waitUntil([&] { return ui->Memo2->toPlainText().endsWith(shown); }))
        << ui->Memo2->toPlainText().toStdString();

    ui->Memo1->setPlainText(QChar(0xE9) + QStringLiteral("t") + QChar(0xE9));
    ui->Button10->click();
    QByteArray received;
    waitUntil([&] {
        char buffer[16];
        const ssize_t n = ::recv(peer, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n > 0)
            received.append(buffer, n);
        return received.size() >= 3;
    });
    EXPECT_EQ(received, QByteArray("\xE9t\xE9"));
    ::close(peer);
}
