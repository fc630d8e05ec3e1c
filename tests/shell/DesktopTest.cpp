// The window as a desktop user meets it: the first run, resizing, the keyboard, the status
// after a failed start and the test client's bytes.
#include "net/WSocket.h"
#include "platform/Thread.h"
#include "server/ServerControl.h"
#include "shell/Dialogs.h"
#include "shell/KORUMain.h"
#include "shell/TrayServiceFake.h"
#include "ui_KORUMain.h"

#include "support/LoopbackClient.h"
#include "support/TempStore.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <future>
#include <netinet/in.h>
#include <optional>
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

// A whole HTTP exchange on a thread of its own: the server's workers wait for the UI thread.
std::future<std::string> fetchRoot(uint16_t port) {
    return std::async(std::launch::async,
                      [port] { return client::exchange(port, {"GET / HTTP/1.0\r\n\r\n"}); });
}

// A listening socket on 127.0.0.1 that the test drives by hand.
struct RawListener {
    RawListener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = client::loopback(0);
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

// A page of the window: a tab of the main page control and, on "Settings", one of its own tabs.
struct Page {
    QWidget* tab;
    QWidget* inner;
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
    void showPage(const Page& page) {
        ui->PageControl1->setCurrentWidget(page.tab);
        if (page.inner)
            ui->PageControl2->setCurrentWidget(page.inner);
        QApplication::processEvents();
    }
    std::vector<Page> pages() const {
        return {{ui->TabSheet2, ui->TabSheet5},
                {ui->TabSheet2, ui->TabSheet6},
                {ui->TabSheet3, nullptr},
                {ui->TabSheet4, nullptr}};
    }
    QLabel* statePanel() { return window->findChild<QLabel*>(QStringLiteral("SB1Panel2")); }

    TempStore store;
    ScopedEnv home{"HOME", store.path() + "/user"};
    RecordingTrayService* tray = nullptr;
    std::unique_ptr<TF_KORUMain> window;
    Ui::TF_KORUMain* ui = nullptr;
};

// What a control must be given so that nothing of it is cut off: a caption its whole size hint,
// a field or a list at least the least size it can work with.
std::optional<QSize> neededSize(const QWidget& w) {
    if (qobject_cast<const QAbstractButton*>(&w) || qobject_cast<const QLabel*>(&w))
        return w.sizeHint();
    if (qobject_cast<const QLineEdit*>(&w) || qobject_cast<const QAbstractScrollArea*>(&w))
        return w.minimumSizeHint();
    return std::nullopt;
}

// A button sized by hand must still hold its whole caption inside its frame.
void expectCaptionFits(const QPushButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const QRect inside =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    const QSize caption = button.fontMetrics().size(Qt::TextShowMnemonic, button.text());
    EXPECT_GE(inside.width(), caption.width()) << button.objectName().toStdString();
    EXPECT_GE(inside.height(), caption.height()) << button.objectName().toStdString();
}

// Every visible control of `area` has the room it needs and lies wholly inside `area`.
void expectNothingCutOff(QWidget& area) {
    for (const QWidget* w : area.findChildren<QWidget*>()) {
        const std::optional<QSize> needed = neededSize(*w);
        if (!needed || !w->isVisibleTo(&area) || qobject_cast<QTabBar*>(w->parentWidget()))
            continue;
        const std::string name = w->objectName().toStdString();
        const auto* button = qobject_cast<const QPushButton*>(w);
        if (button && button->minimumSize() == button->maximumSize()) {
            expectCaptionFits(*button);
        } else {
            EXPECT_GE(w->width(), needed->width()) << name;
            EXPECT_GE(w->height(), needed->height()) << name;
        }
        const QRect inArea(w->mapTo(&area, QPoint(0, 0)), w->size());
        EXPECT_TRUE(area.rect().contains(inArea)) << name << " lies outside its page";
    }
}

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

TEST_F(Desktop, PagesFollowTheWindowsSize) {
    window->show();
    const std::vector<std::pair<Page, QWidget*>> watched{
        {pages()[0], ui->TabSheet5}, {pages()[1], ui->LB},    {pages()[2], ui->pgLB},
        {pages()[3], ui->Panel2},    {pages()[3], ui->Memo1}, {pages()[3], ui->Memo2}};
    const auto sizesNow = [&] {
        std::vector<QSize> sizes;
        for (const auto& [page, control] : watched) {
            showPage(page);
            sizes.push_back(control->size());
        }
        return sizes;
    };
    const std::vector<QSize> before = sizesNow();
    window->resize(window->width() + 300, window->height() + 200);
    ASSERT_TRUE(waitUntil([&] { return window->height() > 600; }));
    const std::vector<QSize> after = sizesNow();
    for (size_t i = 0; i < watched.size(); ++i)
        EXPECT_GT(after[i].height(), before[i].height() + 150)
            << watched[i].second->objectName().toStdString();
    EXPECT_GT(after.back().width(), before.back().width() + 250)
        << "the right memo takes the width";
}

TEST_F(Desktop, AtItsMinimumSizeNoControlIsCutOff) {
    window->show();
    const QSize least = window->minimumSize();
    EXPECT_GT(least.width(), 300);
    EXPECT_GT(least.height(), 300);
    EXPECT_TRUE(QRect(QPoint(), QSize(574, 428)).contains(QRect(QPoint(), least)))
        << "the designed size still holds everything";
    window->resize(least);
    ASSERT_TRUE(waitUntil([&] { return window->size() == least; }));
    expectNothingCutOff(*ui->Panel1);
    for (const Page& page : pages()) {
        showPage(page);
        expectNothingCutOff(*page.tab);
    }
}

TEST_F(Desktop, EnterPressesTheFocusedButtonAndHidesFromAOneLineField) {
    window->show();
    showPage(pages()[1]);
    ui->AddBtn->setFocus();
    ASSERT_EQ(window->focusWidget(), ui->AddBtn);
    dialogs::SetNextAnswer(QString("md"));
    key(ui->AddBtn, Qt::Key_Return, "\r");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Mime().LookupMIME("md"), "type/info") << "Enter pressed Add";
    key(ui->AddBtn, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible()) << "Esc stays the cancel key";

    window->show();
    ui->Edit5->setFocus();
    key(ui->Edit5, Qt::Key_Enter, "\r");
    EXPECT_FALSE(window->isVisible()) << "a one-line field leaves Enter to the window";
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
