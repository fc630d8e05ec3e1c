#include "shell/ServerPage.h"
#include "net/WSocket.h"
#include "platform/Thread.h"
#include "server/ServerControl.h"
#include "server/Transfers.h"
#include "shell/Dialogs.h"
#include "shell/KORUMain.h"
#include "shell/ProblemNotes.h"
#include "shell/QrCode.h"
#include "shell/RxTray.h"
#include "shell/TransfersView.h"
#include "shell/TrayServiceFake.h"
#include "ui_KORUMain.h"

#include "support/ClientThread.h"
#include "support/LoopbackPorts.h"
#include "support/TempStore.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>
#include <qrencode.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Every pixel against the library's module matrix for the text, with a 4-module light border:
// a symbol mirrored, inverted, shifted, blurred or of another text fails.
void expectSymbolOf(const QPixmap& pixmap, const QByteArray& text) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    const std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M), QRcode_free);
    const int side = code->width + 8, scale = image.width() / side;
    ASSERT_EQ(image.size(), QSize(side * scale, side * scale));
    ASSERT_GE(scale, 2);
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int mx = x / scale - 4, my = y / scale - 4;
            const bool inside = mx >= 0 && my >= 0 && mx < code->width && my < code->width;
            const bool dark = inside && (code->data[my * code->width + mx] & 1);
            wrong += image.pixel(x, y) != (dark ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    EXPECT_EQ(wrong, 0) << text.constData();
}

class ServerPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialogs::SetRecording(true);
        page.AddressSource = [this] { return addresses; };
        // Every address is shown to everybody; the home network's list is tested on its own.
        window->Settings().Reach = ReachChoice::Anywhere;
        page.OpenUrl = [this](const QUrl& url) { opened.push_back(url.toString()); };
    }
    void TearDown() override {
        window->StopServer();
        testwait::Until([] { return platform::TThread::RunningCount() == 0; });
        dialogs::SetRecording(false);
    }
    uint16_t start(uint16_t port = 0, const QString& base = {}) {
        ui.Edit4->setText(QString::number(port));
        ui.Edit1->setText(base.isNull() ? docroot.path() : base);
        ui.ListenBtn->click();
        return static_cast<uint16_t>(std::stoi(window->Server().Socket().GetLocalPort()));
    }
    template <typename T> T* find(const QString& name) { return window->findChild<T*>(name); }
    // The links shown now, by their targets.
    QStringList links() {
        QStringList shown;
        for (int i = 0; auto* link = find<QLabel>(QStringLiteral("AddressLink%1").arg(i)); ++i)
            if (!link->isHidden())
                shown.append(link->text().section('"', 1, 1));
        return shown;
    }
    QStringList expected(uint16_t port, int count) {
        const QStringList hosts{"localhost", "192.0.2.7", "198.51.100.20"};
        QStringList urls;
        for (const QString& host : hosts.mid(0, count))
            urls.append(QStringLiteral("http://%1:%2/").arg(host).arg(port));
        return urls;
    }

    TempStore store;
    QTemporaryDir docroot;
    std::unique_ptr<TF_KORUMain> window{
        std::make_unique<TF_KORUMain>(std::make_unique<RecordingTrayService>())};
    Ui::TF_KORUMain& ui = window->UI();
    TServerPage& page = window->ServerPage();
    QLabel& state = *find<QLabel>("ServerState");
    QLabel& notice = *find<QLabel>("BaseFolderNotice");
    QLabel& qr = *find<QLabel>("QrCode");
    QList<QHostAddress> addresses{QHostAddress("192.0.2.7"), QHostAddress("198.51.100.20")};
    QStringList opened;
};

} // namespace

TEST_F(ServerPageTest, AddressesLinksAndTrayItemFollowTheListener) {
    QAction* openItem = window->PM2().actions().value(0);
    EXPECT_EQ(openItem->text(), "Open in browser");
    EXPECT_EQ(window->PM2().actions().value(1)->text(), "&Start") << "above the existing items";
    EXPECT_EQ(state.text(), "Not listening");
    EXPECT_TRUE(links().isEmpty() && qr.isHidden());
    EXPECT_FALSE(openItem->isEnabled());

    const uint16_t port = start();
    EXPECT_EQ(state.text(), "Open the site at:");
    EXPECT_EQ(links(), expected(port, 3)) << "the port bound, not the setting's 0";
    for (int i = 0; i < 3; ++i) {
        QLabel* link = find<QLabel>(QStringLiteral("AddressLink%1").arg(i));
        EXPECT_EQ(link->text(), QStringLiteral("<a href=\"%1\">%1</a>").arg(links()[i]));
        emit link->linkActivated(links()[i]);
        find<QToolButton>(QStringLiteral("CopyAddress%1").arg(i))->click();
        EXPECT_EQ(QApplication::clipboard()->text(), expected(port, 3)[i]);
    }
    EXPECT_EQ(opened, expected(port, 3));
    openItem->trigger();
    EXPECT_EQ(opened.last(), expected(port, 1)[0]) << "this machine's browser goes to localhost";

    ui.StopBtn->click();
    EXPECT_EQ(state.text(), "Not listening");
    EXPECT_TRUE(links().isEmpty() && qr.isHidden());
    EXPECT_FALSE(openItem->isEnabled());

    addresses.removeLast();
    const uint16_t other = testnet::freePort();
    EXPECT_EQ(start(other), other);
    EXPECT_EQ(links(), expected(other, 2)) << "the new port, and no line for a gone address";
}

TEST_F(ServerPageTest, ShowsWhatTheWindowIsToldWithNoListenerBehind) {
    window->ShowListening(8123);
    EXPECT_EQ(state.text(), "Open the site at:");
    EXPECT_EQ(links(), expected(8123, 3));
    EXPECT_TRUE(window->PM2().actions().value(0)->isEnabled());

    window->ShowStopped();
    EXPECT_EQ(state.text(), "Not listening");
    EXPECT_TRUE(links().isEmpty() && qr.isHidden());
}

TEST_F(ServerPageTest, MissingBaseFolderIsToldWhereTheAddressesAre) {
    start(0, docroot.path() + "/gone");
    EXPECT_EQ(notice.text(), "The base folder " + docroot.path() +
                                 "/gone/ does not exist: every file request will get 404");
    EXPECT_FALSE(notice.isHidden());
    ui.StopBtn->click();
    EXPECT_TRUE(notice.isHidden());
    start();
    EXPECT_TRUE(notice.isHidden());
    ui.StopBtn->click();
    start(0, "");
    EXPECT_EQ(notice.text(),
              "No base folder is set: every readable file of this machine is served");
}

TEST_F(ServerPageTest, CreateItMakesTheMissingFolderAndTheNoteGoes) {
    const QString base = docroot.path() + "/site/pages";
    start(0, base);
    auto& create = *find<QPushButton>("CreateBaseFolder");
    auto& problem = *find<QLabel>("CreateFolderProblem");
    ASSERT_FALSE(notice.isHidden());
    EXPECT_FALSE(create.isHidden()) << "beside the note";
    EXPECT_EQ(create.text(), "Create it");
    create.click();
    EXPECT_TRUE(QFileInfo(base).isDir()) << "with the folder above it";
    EXPECT_TRUE(notice.isHidden() && create.isHidden() && problem.isHidden());

    // A file in the way: the note stays and says why.
    ui.StopBtn->click();
    ASSERT_TRUE(QFile(docroot.path() + "/plain").open(QIODevice::WriteOnly));
    start(0, docroot.path() + "/plain/sub");
    create.click();
    EXPECT_FALSE(notice.isHidden());
    EXPECT_FALSE(problem.isHidden());
    EXPECT_EQ(problem.text(), "Could not create " + docroot.path() +
                                  "/plain/sub/: a part of its path is not a "
                                  "folder.");
    ui.StopBtn->click();
    EXPECT_TRUE(problem.isHidden()) << "stopping takes every folder note away";

    start(0, "");
    EXPECT_FALSE(notice.isHidden());
    EXPECT_TRUE(create.isHidden()) << "no folder is named: nothing to create";
}

// The folder is looked at again when the page is shown, not while nobody sees it.
TEST_F(ServerPageTest, TheFolderNoteIsCheckedWhenTheWindowIsShown) {
    const QString base = docroot.path() + "/later";
    start(0, base);
    ASSERT_FALSE(notice.isHidden());
    ASSERT_TRUE(QDir().mkdir(base));
    EXPECT_FALSE(notice.isHidden()) << "no polling";
    window->show();
    ASSERT_TRUE(testwait::Until([&] { return window->isVisible(); }));
    EXPECT_TRUE(notice.isHidden());
    window->hide();
    ASSERT_TRUE(QDir().rmdir(base));
    window->show();
    EXPECT_FALSE(notice.isHidden());
    EXPECT_FALSE(find<QPushButton>("CreateBaseFolder")->isHidden());
}

TEST_F(ServerPageTest, APortInUseIsNamedUntilAStartSucceeds) {
    testnet::Listener busy;
    ASSERT_GE(busy.fd, 0);
    ui.Edit4->setText(QString::number(busy.port));
    ui.ListenBtn->click();
    ASSERT_EQ(dialogs::TakeMessages().size(), 1u) << "the error box stays as it was";
    auto& note = *find<QLabel>("PortNote");
    EXPECT_EQ(page.Notes().PortNote(), QStringLiteral("Port %1 is used by another program. Choose "
                                                      "another port on the Settings page.")
                                           .arg(busy.port));
    EXPECT_FALSE(note.isHidden());

    ui.Edit4->setText("99999");
    ui.ListenBtn->click();
    dialogs::TakeMessages();
    EXPECT_TRUE(note.isHidden()) << "a failure that is not the port's: the note would mislead";

    ui.Edit4->setText(QString::number(busy.port));
    ui.ListenBtn->click();
    dialogs::TakeMessages();
    ASSERT_FALSE(note.isHidden());
    start();
    EXPECT_TRUE(note.isHidden());
    EXPECT_TRUE(page.Notes().PortNote().isEmpty());
}

// Binding a port below 1024 is refused to a user without the right: the note for that refusal,
// shown the way a failed start shows it (the code comes from the socket layer).
TEST_F(ServerPageTest, APortBelow1024WithoutTheRightSaysSo) {
    const QString rights = "Ports below 1024 need administrator rights. Choose a port such as "
                           "8080 on the Settings page.";
    page.Notes().ShowStartFailure(10013, 80);
    EXPECT_EQ(page.Notes().PortNote(), rights);
    EXPECT_FALSE(find<QLabel>("PortNote")->isHidden());
    start();
    EXPECT_TRUE(page.Notes().PortNote().isEmpty()) << "gone with a start that succeeds";
}

// The real refusal, where this user has no right to the port.
TEST_F(ServerPageTest, ARealRefusalOfAPortBelow1024IsToldTheSame) {
    const QString rights = "Ports below 1024 need administrator rights. Choose a port such as "
                           "8080 on the Settings page.";
    ui.Edit4->setText("1");
    ui.ListenBtn->click();
    if (window->Server().Socket().State() == wsListening)
        GTEST_SKIP() << "this user may bind port 1 (root, or a lowered unprivileged port start)";
    dialogs::TakeMessages();
    EXPECT_EQ(page.Notes().PortNote(), rights);
}

TEST_F(ServerPageTest, ALogThatCannotBeWrittenIsToldOnceUntilALineIsWritten) {
    const QString folder = docroot.path() + "/logs";
    const QString log = folder + "/koru.log";
    ui.Edit12->setText(log);
    const uint16_t port = start();
    auto& note = *find<QLabel>("LogNote");
    EXPECT_TRUE(note.isHidden());
    testnet::fetchWhileServing(port, "GET /a HTTP/1.0\r\n\r\n");
    const QString lost = "Request log lines are lost (a folder on its path does not exist): "
                         "cannot write to " +
                         log;
    ASSERT_TRUE(testwait::Until([&] { return page.Notes().LogNote() == lost; }));
    EXPECT_FALSE(note.isHidden());
    testnet::fetchWhileServing(port, "GET /b HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page.Notes().LogNote(), lost);

    ASSERT_TRUE(QDir().mkdir(folder));
    testnet::fetchWhileServing(port, "GET /c HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(testwait::Until([&] { return note.isHidden(); })) << "a line was written";
    EXPECT_TRUE(page.Notes().LogNote().isEmpty());

    // Lost again: told again, with this loss's reason.
    ASSERT_TRUE(QFile::remove(log));
    ASSERT_TRUE(QDir().mkdir(log));
    testnet::fetchWhileServing(port, "GET /d HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(testwait::Until([&] { return !note.isHidden(); }));
    EXPECT_EQ(page.Notes().LogNote(),
              "Request log lines are lost (it is a folder): cannot write to " + log);
}

// A glance at the tray tells whether the folder is shared.
TEST_F(ServerPageTest, TheTrayPictureFollowsTheListener) {
    auto& tray = static_cast<RecordingTrayService&>(window->RxTray1().Service());
    const auto picture = [&] { return tray.Current()->icon.pixmap(32).toImage(); };
    ASSERT_NE(tray.Current(), nullptr);
    const QImage stopped = picture();
    start();
    const QImage listening = picture();
    EXPECT_NE(listening, stopped);
    EXPECT_EQ(listening, QIcon(":/icons/koru-256.png").pixmap(32).toImage())
        << "the program's own icon while listening";
    ui.StopBtn->click();
    EXPECT_EQ(picture(), stopped);
    start();
    EXPECT_EQ(picture(), listening);
}

// The view's lines without the answer the page adds to each.
QStringList logPartOf(const QPlainTextEdit& view) {
    QStringList lines = view.toPlainText().split('\n');
    for (QString& line : lines)
        line = line.section('\t', 0, 2);
    return lines;
}

TEST_F(ServerPageTest, RecentRequestsAreTheLogsLastHundredNewestAtTheBottom) {
    const QString log = docroot.path() + "/requests.log";
    ui.Edit12->setText(log);
    const uint16_t port = start();
    // Lines for a page nobody sees wait until it is shown.
    testnet::fetchWhileServing(port, "GET /unseen HTTP/1.0\r\n\r\n");
    auto& view = *find<QPlainTextEdit>("RecentRequests");
    testwait::For(300);
    EXPECT_EQ(view.toPlainText(), "");
    window->show();
    ASSERT_TRUE(testwait::Until([&] {
        return view.toPlainText().contains("/unseen HTTP/1.0\t404 Not Found\t");
    })) << view.toPlainText().toStdString();
    std::vector<std::string> requests;
    for (int i = 0; i < 130; ++i)
        requests.push_back("GET /r" + std::to_string(i) + " HTTP/1.0\r\n\r\n");
    testnet::fetchAllWhileServing(port, requests);
    ASSERT_TRUE(testwait::Until([&] { return logPartOf(view).last().endsWith("/r129 HTTP/1.0"); }));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split("\r\n");
    ASSERT_EQ(lines.size(), 132);
    EXPECT_EQ(logPartOf(view), lines.mid(31, 100)) << "as the file has them";
    EXPECT_TRUE(view.isReadOnly());

    ui.CheckBox5->setChecked(false);
    testnet::fetchWhileServing(port, "GET /unlogged HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(testwait::Until([&] {
        return logPartOf(view).last().endsWith("/unlogged HTTP/1.0");
    })) << "shown with the log file off";
    EXPECT_EQ(view.blockCount(), 100);
}

TEST_F(ServerPageTest, QrCodeOfTheFirstNetworkAddressElseLocalhost) {
    const uint16_t port = start();
    expectSymbolOf(qr.pixmap(), expected(port, 2)[1].toLatin1());
    ui.StopBtn->click();
    addresses.clear();
    const uint16_t again = start();
    expectSymbolOf(qr.pixmap(), expected(again, 1)[0].toLatin1());
}

TEST(QrCode, SizeFollowsTheTextAndTooLongIsRefused) {
    // Level M holds 14 bytes in 21x21 modules and 26 in 25x25; at level L 15 bytes would fit 21.
    EXPECT_EQ(TQrCode::Encode(QByteArray(14, 'a'))->Size(), 21);
    EXPECT_EQ(TQrCode::Encode(QByteArray(15, 'a'))->Size(), 25);
    EXPECT_FALSE(TQrCode::Encode(QByteArray()));
    EXPECT_FALSE(TQrCode::Encode(QByteArray(3000, 'a')));
    expectSymbolOf(QPixmap::fromImage(TQrCode::Encode("KORU")->ToImage(3)), "KORU");
}

namespace {

// A reader that takes the first piece of a reply, then nothing until told to go on.
class PausedReader {
public:
    PausedReader(uint16_t port, const std::string& request) {
        thread_ = std::thread([this, port, request] {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int small = 16 * 1024;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
                char buffer[16 * 1024];
                for (ssize_t n = 1; n > 0;) {
                    if (received_ >= 64 * 1024)
                        while (!go_)
                            std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    n = ::recv(fd, buffer, sizeof buffer, 0);
                    received_ += std::max<ssize_t>(n, 0);
                }
            }
            ::close(fd);
        });
    }
    ~PausedReader() {
        go_ = true;
        thread_.join();
    }
    int64_t Finish() {
        go_ = true;
        thread_.join();
        thread_ = std::thread([] {});
        return received_;
    }

private:
    std::atomic<bool> go_{false};
    std::atomic<int64_t> received_{0};
    std::thread thread_;
};

} // namespace

TEST_F(ServerPageTest, EachAnswerShowsItsStatusAndSizeAndALargeDownloadItsProgress) {
    window->show();
    ASSERT_TRUE(testfiles::write(docroot.path() + "/small.txt", "tiny"));
    ASSERT_TRUE(testfiles::write(docroot.path() + "/big.bin", QByteArray(16'000'000, 'b')));
    const uint16_t port = start();
    auto& view = *find<QPlainTextEdit>("RecentRequests");
    const std::string small = testnet::fetchWhileServing(port, "GET /small.txt HTTP/1.0\r\n\r\n");
    const QString smallLine = "/small.txt HTTP/1.0\t200 OK\t" +
                              QString::fromStdString(transfers::SizeText(int64_t(small.size())));
    ASSERT_TRUE(testwait::Until([&] { return view.toPlainText().endsWith(smallLine); }))
        << view.toPlainText().toStdString();

    TTransfersView& transfersView = page.Transfers();
    EXPECT_TRUE(transfersView.isHidden()) << "no row while nothing large moves";
    PausedReader reader(port, "GET /big.bin HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(testwait::Until([&] { return transfersView.Rows() == 1; }));
    EXPECT_FALSE(transfersView.isHidden());
    QStringList texts;
    for (const QLabel* label : transfersView.findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.join('|').contains("127.0.0.1  /big.bin")) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.join('|').contains(" of 16 MB, ")) << texts.join('|').toStdString();
    EXPECT_FALSE(view.toPlainText().contains("/big.bin")) << "shown once it has ended";

    EXPECT_GT(reader.Finish(), 16'000'000);
    ASSERT_TRUE(testwait::Until([&] { return transfersView.Rows() == 0; }));
    EXPECT_TRUE(transfersView.isHidden());
    EXPECT_TRUE(testwait::Until([&] {
        return view.toPlainText().contains("/big.bin HTTP/1.0\t200 OK\t16 MB");
    })) << view.toPlainText().toStdString();
}

// Only the addresses the reach lets visitors in by are shown, with a line that names the reach.
TEST_F(ServerPageTest, ShowsOnlyTheAddressesTheReachLetsIn) {
    addresses = {QHostAddress("192.0.2.7"), QHostAddress("192.168.1.5"), QHostAddress("10.1.2.3")};
    QLabel& reach = *find<QLabel>("ReachInForce");
    EXPECT_TRUE(reach.isHidden()) << "nothing while not listening";

    window->Settings().Reach = ReachChoice::HomeNetwork;
    uint16_t port = start();
    EXPECT_EQ(links(), QStringList({QStringLiteral("http://localhost:%1/").arg(port),
                                    QStringLiteral("http://192.168.1.5:%1/").arg(port),
                                    QStringLiteral("http://10.1.2.3:%1/").arg(port)}));
    EXPECT_EQ(reach.text(), "Visitors may connect from: my home network");
    EXPECT_FALSE(reach.isHidden());
    ui.StopBtn->click();
    EXPECT_TRUE(reach.isHidden());

    window->Settings().Reach = ReachChoice::ThisComputer;
    port = start();
    EXPECT_EQ(links(), QStringList({QStringLiteral("http://127.0.0.1:%1/").arg(port)}));
    EXPECT_EQ(reach.text(), "Visitors may connect from: this computer only");
    EXPECT_TRUE(qr.isHidden()) << "no phone can connect";
    ui.StopBtn->click();

    find<QComboBox>("ReachBox")->setCurrentIndex(2);
    port = start();
    EXPECT_EQ(links().size(), 4);
    EXPECT_EQ(reach.text(), "Visitors may connect from: anywhere");
    // Narrowed while it listens: that holds at once, and the page says so.
    find<QComboBox>("ReachBox")->setCurrentIndex(1);
    EXPECT_EQ(reach.text(), "Visitors may connect from: my home network");
    EXPECT_EQ(links().size(), 3);
    // And narrowed by a restore of what was saved.
    ui.Button4->click();
    find<QComboBox>("ReachBox")->setCurrentIndex(2);
    EXPECT_EQ(links().size(), 4);
    ui.Button11->click();
    EXPECT_EQ(reach.text(), "Visitors may connect from: my home network");
    EXPECT_EQ(links().size(), 3);
}

// A flood of large downloads gets a row each for the first few and one line for the rest.
TEST(TransfersView, AFloodShowsTheFirstFewAndCountsTheRest) {
    transfers::Board board;
    TTransfersView view(board);
    std::vector<transfers::Entry> entries;
    for (int i = 0; i < 10; ++i)
        entries.push_back(board.Begin(transfers::Direction::Download, "10.0.0.9",
                                      "/f" + std::to_string(i), transfers::kShownFromBytes));
    entries[0].Add(transfers::kShownFromBytes / 2);
    view.Refresh();
    EXPECT_EQ(view.Rows(), 8);
    EXPECT_EQ(view.MoreText(), "and 2 more transfers");
    EXPECT_FALSE(view.isHidden());
    EXPECT_EQ(view.findChild<QProgressBar*>()->value(), 500) << "the oldest first, half done";
    entries.erase(entries.begin(), entries.begin() + 3);
    view.Refresh();
    EXPECT_EQ(view.Rows(), 7);
    EXPECT_EQ(view.MoreText(), "");
    entries.clear();
    view.Refresh();
    EXPECT_EQ(view.Rows(), 0);
    EXPECT_TRUE(view.isHidden());
}
