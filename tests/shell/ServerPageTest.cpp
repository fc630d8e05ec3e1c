#include "shell/ServerPage.h"
#include "net/WSocket.h"
#include "platform/Thread.h"
#include "server/ServerControl.h"
#include "shell/Dialogs.h"
#include "shell/KORUMain.h"
#include "shell/QrCode.h"
#include "shell/TrayServiceFake.h"
#include "ui_KORUMain.h"

#include "support/ClientThread.h"
#include "support/LoopbackPorts.h"
#include "support/TempStore.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>
#include <qrencode.h>

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
    ASSERT_TRUE(testwait::Until([&] { return view.toPlainText().endsWith("/unseen HTTP/1.0"); }));
    std::vector<std::string> requests;
    for (int i = 0; i < 130; ++i)
        requests.push_back("GET /r" + std::to_string(i) + " HTTP/1.0\r\n\r\n");
    testnet::fetchAllWhileServing(port, requests);
    ASSERT_TRUE(testwait::Until([&] { return view.toPlainText().endsWith("/r129 HTTP/1.0"); }));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split("\r\n");
    ASSERT_EQ(lines.size(), 132);
    EXPECT_EQ(view.toPlainText().split('\n'), lines.mid(31, 100)) << "as the file has them";
    EXPECT_TRUE(view.isReadOnly());

    ui.CheckBox5->setChecked(false);
    testnet::fetchWhileServing(port, "GET /unlogged HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(testwait::Until([&] { return view.toPlainText().endsWith("/unlogged HTTP/1.0"); }))
        << "shown with the log file off";
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
}
