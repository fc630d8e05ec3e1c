#include "MainWindowFixture.h"

#include "shell/UploadNotices.h"

#include "support/ClientThread.h"

#include <QDir>
#include <QTemporaryDir>

namespace {

struct Shown {
    std::vector<QString> texts;
    std::function<void(const QString&, const QString&)> sink() {
        return [this](const QString& title, const QString& text) {
            texts.push_back(title + "|" + text);
        };
    }
};

} // namespace

TEST(UploadNotices, OneMessagePerBatchWithItsFilesSizeAndPeers) {
    const std::tuple<int, const char*, int64_t, std::set<QString>, const char*> rows[] = {
        {1,
         "holiday photo.jpg",
         2'100'000,
         {"192.168.1.7"},
         "Received holiday photo.jpg (2.1 MB) from 192.168.1.7"},
        {3, "a.jpg", 12'400'000, {"192.168.1.7"}, "Received 3 files (12 MB) from 192.168.1.7"},
        {2, "a.jpg", 999, {"10.0.0.2", "10.0.0.3"}, "Received 2 files (999 B) from 2 visitors"},
    };
    for (const auto& [files, first, bytes, peers, text] : rows)
        EXPECT_EQ(TUploadNotices::Text(files, first, bytes, peers), text);

    Shown shown;
    TUploadNotices notices(shown.sink());
    notices.Flush();
    EXPECT_TRUE(shown.texts.empty()) << "nothing gathered, nothing said";
    notices.Stored("a.jpg", 1000, "10.0.0.2");
    notices.Stored("b.jpg", 2000, "10.0.0.2");
    EXPECT_TRUE(notices.Waiting());
    EXPECT_TRUE(shown.texts.empty()) << "a batch is said once it is over";
    notices.Flush();
    notices.Stored("c.jpg", 5, "10.0.0.9");
    notices.Flush();
    EXPECT_EQ(shown.texts, (std::vector<QString>{"KORU|Received 2 files (3.0 kB) from 10.0.0.2",
                                                 "KORU|Received c.jpg (5 B) from 10.0.0.9"}));
}

// Uploads that keep coming put the notice off until they pause, or until the batch is old enough.
// The waits are far apart, so that a slow machine cannot make a pause where there was none.
TEST(UploadNotices, SaidOnceUploadsPauseOrTheBatchIsOldEnough) {
    Shown paused;
    TUploadNotices quiet(paused.sink(), nullptr, 400, 60'000);
    for (int i = 0; i < 3; ++i) {
        quiet.Stored("p.jpg", 1, "10.0.0.9");
        testwait::For(20);
    }
    ASSERT_TRUE(testwait::Until([&] { return !quiet.Waiting(); }));
    EXPECT_EQ(paused.texts, std::vector<QString>{"KORU|Received 3 files (3 B) from 10.0.0.9"});

    // A stream that never pauses is said once its batch is old enough.
    Shown streamed;
    TUploadNotices stream(streamed.sink(), nullptr, 60'000, 300);
    QElapsedTimer clock;
    clock.start();
    while (streamed.texts.empty() && clock.elapsed() < testwait::kPatienceMs) {
        stream.Stored("s.jpg", 1, "10.0.0.9");
        testwait::For(20);
    }
    ASSERT_EQ(streamed.texts.size(), 1u);
    EXPECT_TRUE(streamed.texts[0].contains(" files (")) << streamed.texts[0].toStdString();
}

class UploadNoticesWindow : public MainWindowFixture {};

TEST_F(UploadNoticesWindow, StoredUploadsReachTheTrayInOneMessageUnlessSwitchedOff) {
    QTemporaryDir docroot;
    ASSERT_TRUE(QDir(docroot.path()).mkpath("Uploads"));
    ui->Edit1->setText(docroot.path());
    ui->Edit14->setText(docroot.path() + "/Uploads/");
    EXPECT_TRUE(window->Settings().UploadNotices) << "on for a first run";
    const uint16_t port = startOnFreePort();
    const auto put = [port](const std::string& name, const std::string& body) {
        return testnet::fetchWhileServing(
            port, "PUT /Uploads/" + name + " HTTP/1.0\r\n" +
                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    };
    EXPECT_EQ(put("one.txt", "12345").substr(0, 12), "HTTP/1.0 200");
    EXPECT_EQ(put("two.txt", "12").substr(0, 12), "HTTP/1.0 200");
    EXPECT_EQ(put("one.txt", "again").substr(0, 12), "HTTP/1.0 406") << "refused: not told";
    // Each stored upload was handed to the UI thread before its answer left.
    window->RunWorkerCalls();
    window->UploadNotices().Flush();
    EXPECT_EQ(tray->messages,
              (std::vector<QString>{"KORU\nReceived 2 files (7 B) from 127.0.0.1"}));

    window->Settings().UploadNotices = false;
    EXPECT_EQ(put("three.txt", "3").substr(0, 12), "HTTP/1.0 200");
    window->RunWorkerCalls();
    EXPECT_FALSE(window->UploadNotices().Waiting());
    EXPECT_EQ(tray->messages.size(), 1u);
}
