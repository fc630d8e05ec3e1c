// Who is served and where uploads go, end to end over loopback: a stranger is refused at its
// header and logged, each uploads choice stores only where it allows, a refused upload stores
// nothing, and only the free space limits an upload's size.
#include "ServerFixture.h"

#include "platform/Sockets.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

class Access : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        writeFile("index.htm", "<p>home</p>");
        ASSERT_TRUE(QDir().mkpath(docroot.path() + "/Uploads"));
        ASSERT_TRUE(outside.isValid());
        ASSERT_EQ(::symlink(QFile::encodeName(outside.path()).constData(),
                            QFile::encodeName(docroot.path() + "/Uploads/out").constData()),
                  0);
        settings.UploadPath = docroot.path() + "/Uploads/";
    }
    // Starts the server with the settings as the test left them.
    void run() { portNumber = start(); }
    std::string put(const std::string& target, const std::string& body) {
        return get("PUT " + target + " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
    }
    std::string boundAddress() {
        platform::SockAddrIn name;
        int32_t length = sizeof name;
        server->Socket().GetSockName(name, length);
        return platform::DottedAddress(name.Addr);
    }
    // The site's files and folders, hidden ones too, but the log: a refused upload leaves none
    // behind.
    QStringList entries(const QString& folder) const {
        QStringList names = QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        names.removeAll("koru.log");
        return names;
    }

    QTemporaryDir outside;
};

// The start page as a file reply.
bool servedHome(const std::string& reply) {
    return reply.starts_with("HTTP/1.0 200 OK\r\n") && reply.ends_with("\r\n\r\n<p>home</p>");
}

const std::string kSaved = page(200, "OK", "File saved");

} // namespace

TEST_F(Access, AStrangerIsRefusedAtItsHeaderAndLogged) {
    settings.Reach = ReachChoice::HomeNetwork;
    context.homePeer = [](std::string_view) { return false; };
    run();
    EXPECT_EQ(boundAddress(), "0.0.0.0") << "the home network needs every address";
    const std::string refused =
        page(403, "Forbidden", "Only visitors from the home network are served");
    EXPECT_EQ(get("GET /index.htm HTTP/1.0\r\n\r\n"), refused);
    EXPECT_EQ(put("/Uploads/s.txt", "hello"), refused);
    // Refused at the header: the body it announces is never waited for.
    EXPECT_EQ(get("POST /m HTTP/1.0\r\nContent-Length: 100000\r\n\r\n"), refused);
    EXPECT_FALSE(QFile::exists(docroot.path() + "/Uploads/s.txt"));
    const QList<QByteArray> lines = readFile("koru.log").split('\n');
    ASSERT_EQ(lines.size(), 4) << readFile("koru.log").constData();
    EXPECT_EQ(lines[0].split('\t').value(1), "127.0.0.1");
    EXPECT_EQ(lines[0].split('\t').value(2), "GET /index.htm HTTP/1.0\r");
    EXPECT_EQ(lines[1].split('\t').value(2), "PUT /Uploads/s.txt HTTP/1.0\r");
}

TEST_F(Access, ThisComputerOnlyListensOnLoopbackAndAnywhereOnEveryAddress) {
    settings.Reach = ReachChoice::ThisComputer;
    run();
    EXPECT_EQ(boundAddress(), "127.0.0.1");
    EXPECT_EQ(server->ReachInForce(), ReachChoice::ThisComputer);
    EXPECT_TRUE(servedHome(get("GET /index.htm HTTP/1.0\r\n\r\n")));
    settings.Reach = ReachChoice::Anywhere;
    EXPECT_EQ(server->ReachInForce(), ReachChoice::ThisComputer)
        << "a listener on the loopback address reaches no further until it starts again";
    server->StopServer();
    run();
    EXPECT_EQ(boundAddress(), "0.0.0.0");
    EXPECT_EQ(server->ReachInForce(), ReachChoice::Anywhere);
    settings.Reach = ReachChoice::HomeNetwork;
    EXPECT_EQ(server->ReachInForce(), ReachChoice::HomeNetwork) << "narrowing holds at once";
    EXPECT_TRUE(servedHome(get("GET /index.htm HTTP/1.0\r\n\r\n"))) << "this computer is home";
}

TEST_F(Access, UploadsSwitchedOffRefuseEveryPutAndStoreNothing) {
    settings.Uploads = UploadsChoice::Off;
    run();
    const QStringList before = entries(docroot.path());
    const std::string off = page(403, "Forbidden", "Uploads are switched off");
    EXPECT_EQ(put("/Uploads/a.txt", "hello"), off);
    EXPECT_EQ(put("/a.txt", "hello"), off);
    EXPECT_EQ(get("PUT /b.txt HTTP/1.0\r\n\r\n"), off) << "without a length too";
    EXPECT_EQ(put("/Uploads/../c.txt", "x"), off);
    EXPECT_EQ(entries(docroot.path()), before);
    EXPECT_TRUE(entries(docroot.path() + "/Uploads").contains("out"));
    EXPECT_EQ(entries(docroot.path() + "/Uploads").size(), 1);
    EXPECT_TRUE(servedHome(get("GET /index.htm HTTP/1.0\r\n\r\n")));
}

TEST_F(Access, IntoTheUploadFolderOnlyJudgesTheRealFolder) {
    settings.Uploads = UploadsChoice::UploadFolder;
    run();
    const std::string elsewhere =
        page(403, "Forbidden", "Uploads are taken into the upload folder only");
    EXPECT_EQ(put("/Uploads/a.txt", "hello"), kSaved);
    EXPECT_EQ(readFile("Uploads/a.txt"), "hello");
    EXPECT_EQ(put("/Uploads%2Fb%20c.txt", "decoded"), kSaved) << "the decoded target is judged";
    EXPECT_EQ(readFile("Uploads/b c.txt"), "decoded");
    EXPECT_EQ(put("/top.txt", "hello"), elsewhere);
    EXPECT_EQ(put("/Uploads/out/linked.txt", "hello"), elsewhere) << "a link out of the folder";
    EXPECT_EQ(put("/Uploads/../dots.txt", "hello"),
              page(406, "Not Acceptable", "Cannot create such a file: /Uploads/../dots.txt"));
    EXPECT_EQ(put("/Uploads/%2E%2E/dots.txt", "hello"),
              page(406, "Not Acceptable", "Cannot create such a file: /Uploads/%2E%2E/dots.txt"));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/top.txt"));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/dots.txt"));
    EXPECT_TRUE(entries(outside.path()).isEmpty());

    settings.UploadPath = outside.path() + "/";
    EXPECT_EQ(put("/Uploads/late.txt", "hello"),
              page(403, "Forbidden",
                   "The upload folder lies outside the base folder: no upload is taken"));
    EXPECT_TRUE(entries(outside.path()).isEmpty());
}

TEST_F(Access, TheFirstUploadMakesAMissingUploadFolder) {
    settings.Uploads = UploadsChoice::UploadFolder;
    settings.UploadPath = docroot.path() + "/Fresh/";
    run();
    EXPECT_EQ(put("/Fresh/first.txt", "hello"), kSaved);
    EXPECT_EQ(readFile("Fresh/first.txt"), "hello");
}

// Anywhere under the base folder, as an earlier version's store keeps it.
TEST_F(Access, OnlyTheFreeSpaceLimitsAnUploadsSize) {
    context.freeSpace = [](const std::string&) -> std::optional<uint64_t> { return 300'000'000; };
    run();
    EXPECT_EQ(put("/top.txt", "hello"), kSaved);
    const QStringList before = entries(docroot.path());
    const uint16_t port = portNumber;
    // Answered at the header: the client sends no body and still hears the refusal.
    const std::string tooLarge = onClient([port] {
        return client::exchange(port,
                                {"PUT /big.bin HTTP/1.0\r\nContent-Length: 300000001\r\n\r\n"});
    });
    EXPECT_EQ(tooLarge,
              page(413, "Request Entity Too Large", "Not enough free space for this upload"));
    EXPECT_EQ(entries(docroot.path()), before) << "nothing stored";

    // Above 256 MiB but within the free space: taken and streamed. The client sends a little and
    // stops; the unfinished upload is dropped without an answer, not refused for its size.
    const std::string unfinished = onClient([port] {
        const int fd = client::connectTo(port);
        client::sendAll(fd, "PUT /big.bin HTTP/1.0\r\nContent-Length: 299999999\r\n\r\nabc");
        ::shutdown(fd, SHUT_WR);
        std::string reply = client::readAll(fd);
        ::close(fd);
        return reply;
    });
    EXPECT_EQ(unfinished, "");
    EXPECT_EQ(entries(docroot.path()), before) << "no partial file stays";
    EXPECT_EQ(get("PUT /big.bin HTTP/1.0\r\nContent-Length: 4611686018427387905\r\n\r\n"),
              page(413, "Request Entity Too Large", "Request too large"))
        << "past the ceiling";
}
