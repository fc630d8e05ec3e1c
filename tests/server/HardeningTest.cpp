// What hostile or merely unusual visitors do to one connection: a log locked by somebody else,
// limits set to odd values, upload bodies that do not match their header, names and targets
// meant to act on a browser or a terminal, and peers that stop reading.
#include "ServerFixture.h"

#include <QElapsedTimer>

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/time.h>

namespace {

class Hardening : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        writeFile("index.htm", "<p>home</p>");
        portNumber = start();
    }

    QByteArray log() const { return readFile("koru.log"); }
};

// How a connection ended for a client that sent `request` and then only listened.
struct Ending {
    std::string reply;
    bool closedByServer = false;
    double seconds = 0;
};

Ending listen(uint16_t port, const std::string& request, int timeoutSeconds) {
    Ending ending;
    const int fd = client::connectTo(port);
    timeval limit{timeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    const auto start = std::chrono::steady_clock::now();
    client::sendAll(fd, request);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            ending.closedByServer = n == 0;
            break;
        }
        ending.reply.append(buffer, static_cast<size_t>(n));
    }
    ending.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return ending;
}

std::string fileReply(const std::string& type, const std::string& body) {
    return "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

// The log lies inside the base folder and somebody holds a lock on it (a worker serving it, or
// another program): requests are still logged and answered, and the log can be fetched.
TEST_F(Hardening, ALockedLogNeitherFreezesTheServerNorLosesLines) {
    get("GET /first HTTP/1.0\r\n\r\n");
    const uint16_t port = portNumber;
    const QByteArray logPath = QFile::encodeName(docroot.path() + "/koru.log");
    const std::string reply = onClient([port, logPath] {
        const int locked = ::open(logPath.constData(), O_RDONLY | O_CLOEXEC);
        ::flock(locked, LOCK_SH);
        // Without an answer in a few seconds the UI thread is stuck behind the lock.
        const Ending ending = listen(port, "GET /index.htm HTTP/1.0\r\n\r\n", 5);
        ::close(locked);
        return ending.reply;
    });
    EXPECT_EQ(reply, fileReply("text/html", "<p>home</p>"));
    EXPECT_TRUE(testwait::Until([&] { return log().count('\n') == 2; })) << log().constData();

    const QByteArray before = log();
    const std::string served = get("GET /koru.log HTTP/1.0\r\n\r\n");
    ASSERT_EQ(served.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << served;
    const std::string body = served.substr(served.find("\r\n\r\n") + 4);
    EXPECT_NE(served.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos)
        << "the log as it stood when it was served, whole";
    EXPECT_EQ(body.rfind(before.toStdString(), 0), 0u);
}

TEST_F(Hardening, RequestLinesReachTheLogWithoutTheirControlBytes) {
    get("GET /a\x1b[2Jb\tc\x7f HTTP/1.0\r\n\r\n");
    // The line is written on the UI thread, possibly after the reply has arrived.
    EXPECT_TRUE(testwait::Until([&] { return log().endsWith('\n'); }));
    const QList<QByteArray> fields = log().split('\t');
    ASSERT_EQ(fields.size(), 4) << log().constData();
    EXPECT_EQ(fields[2] + '\t' + fields[3], "GET /a\\x1B[2Jb\tc\\x7F HTTP/1.0\r\n")
        << "escape sequences written out, the tab kept";
}

TEST_F(Hardening, IdleLimitIsSignedAndWide) {
    const uint16_t port = portNumber;
    // Zero or less: an incomplete request is closed at the first look, not kept for ever.
    settings.IdleSeconds = "-1";
    const Ending negative = onClient([port] { return listen(port, "GET / HTTP/1.0\r\n", 10); });
    EXPECT_TRUE(negative.closedByServer);
    EXPECT_EQ(negative.reply, "");
    EXPECT_LT(negative.seconds, 5);

    // 4294968 seconds overflow 32 bits to well under a second; the connection must stay open.
    settings.IdleSeconds = "4294968";
    const Ending wide = onClient([port] { return listen(port, "GET / HTTP/1.0\r\n", 2); });
    EXPECT_FALSE(wide.closedByServer) << "closed after " << wide.seconds << " s";
}

TEST_F(Hardening, UploadStoresExactlyTheDeclaredLength) {
    EXPECT_EQ(get("PUT /exact.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nhelloEXTRA-BYTES"),
              page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("exact.txt"), "hello");

    // A body that arrives in pieces after the header, with bytes beyond it in the last piece.
    const uint16_t port = portNumber;
    const std::string body(300000, 'p');
    const std::string reply = onClient([port, body] {
        return client::exchange(port,
                                {"PUT /pieces.bin HTTP/1.0\r\nContent-Length: 300000\r\n\r\n",
                                 body.substr(0, 1000), body.substr(1000) + "TRAILING"},
                                50);
    });
    EXPECT_EQ(reply, page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("pieces.bin"), QByteArray::fromStdString(body));
}

TEST_F(Hardening, UploadWithoutAKnownLengthIsRefusedAndLeavesTheNameFree) {
    EXPECT_EQ(get("PUT /stream.txt HTTP/1.0\r\nTransfer-Encoding: "
                  "chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"),
              page(411, "Length Required", "Content-Length required"));
    EXPECT_EQ(get("PUT /stream.txt HTTP/1.0\r\ntransfer-encoding: chunked\r\nContent-Length: "
                  "5\r\n\r\nhello"),
              page(411, "Length Required", "Content-Length required"));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/stream.txt"));
    EXPECT_EQ(get("PUT /stream.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nok"),
              page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("stream.txt"), "ok");
    EXPECT_EQ(QDir(docroot.path()).entryList(QDir::Hidden | QDir::Files).size(), 3)
        << "no temporary file left behind: "
        << QDir(docroot.path()).entryList().join(' ').toStdString();
}

TEST_F(Hardening, TextFromTheRequestCannotBecomeMarkupOrControlSequences) {
    EXPECT_EQ(
        get("PUT /nofolder/<img src=x onerror=\"a&b\"> HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
        page(406, "Not Acceptable",
             "Cannot create such a file: /nofolder/&lt;img src=x onerror=&quot;a&amp;b&quot;&gt;"));
    EXPECT_EQ(get("PUT /red\x1b[31m.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /red\x1b[31m.txt"));
    EXPECT_EQ(get("PUT /del\x7f.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /del\x7f.txt"));
    EXPECT_EQ(QDir(docroot.path()).entryList(QDir::Files).size(), 2)
        << QDir(docroot.path()).entryList().join(' ').toStdString();
    EXPECT_EQ(get("PUT /plain-name.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(200, "OK", "File saved"));
}

// A peer that stops reading frees its worker and descriptors within the idle limit (and the
// second a stall takes to show), however large the file.
TEST_F(Hardening, PeerThatStopsReadingIsReleased) {
    settings.IdleSeconds = "1";
    writeFile("big.bin", QByteArray(32 * 1024 * 1024, 'b'));
    const uint16_t port = portNumber;
    const int fd = onClient([port] {
        const int s = client::connectTo(port, 4096);
        client::sendAll(s, "GET /big.bin HTTP/1.0\r\n\r\n");
        return s;
    });
    EXPECT_TRUE(testwait::Until([&] { return view.status[0] == "Clients: 1"; }));
    QElapsedTimer released;
    released.start();
    EXPECT_TRUE(testwait::Until([&] { return view.status[0] == "Clients: 0"; }, 15000))
        << "the worker still holds the stalled connection";
    EXPECT_LT(released.elapsed(), 10000);
    ::close(fd);
}

// With every descriptor taken, accepting rests instead of spinning on the failure, says so once,
// and takes up the waiting connections when descriptors come back.
TEST_F(Hardening, RunningOutOfDescriptorsPausesAcceptingAndRecovers) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers check memory through a pipe of their own, which they cannot open once every
    // descriptor is taken; the load tests hold the same fault against the plain program.
    GTEST_SKIP() << "the sanitizer runtime needs free descriptors itself";
#endif
    constexpr int kClients = 6;
    std::vector<int> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit tight = old;
    tight.rlim_cur = std::min<rlim_t>(old.rlim_cur, 4096);
    ::setrlimit(RLIMIT_NOFILE, &tight);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);

    const sockaddr_in address = client::loopback(portNumber);
    for (const int fd : clients) {
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        client::sendAll(fd, "GET / HTTP/1.0\r\n\r\n");
    }
    EXPECT_TRUE(testwait::Until([&] { return server->AcceptPaused(); }));
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    // Naps: the loop sleeps unless something wakes it, so CPU spent now is the server's. Looks
    // between them catch a pause that lapses between tries while the shortage lasts.
    bool paused = true;
    for (int nap = 0; nap < 40; ++nap) {
        testwait::Nap(25);
        paused = paused && server->AcceptPaused();
    }
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpuMs = [](const rusage& u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    };

    for (const int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(paused);
    // Said once and kept while the tries fail: no flicker back to the state caption.
    EXPECT_EQ(view.stateHistory, (std::vector<QString>{"Accepting paused: Too many open files"}));
    EXPECT_LT(cpuMs(after) - cpuMs(before), 500) << "a busy loop while exhausted";

    const std::vector<std::string> replies = onClient([clients] {
        std::vector<std::string> all;
        for (const int fd : clients) {
            timeval limit{10, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
            all.push_back(client::readAll(fd));
            ::close(fd);
        }
        return all;
    });
    for (const std::string& reply : replies)
        EXPECT_EQ(reply, fileReply("text/html", "<p>home</p>"));
    EXPECT_FALSE(server->AcceptPaused());
    // The note went with the shortage, and nothing else was said in between.
    EXPECT_EQ(view.stateHistory,
              (std::vector<QString>{"Accepting paused: Too many open files", "State"}));
}

// A file that grows while it is sent (the request log, fetched while lines are added) is sent
// as long as its header said: the body and its announced length always agree.
TEST_F(Hardening, FileThatGrowsDuringDeliveryIsSentAsItStood) {
    const QByteArray content(10000, 'g');
    writeFile("grow.txt", content);
    const QString path = docroot.path() + "/grow.txt";
    context.afterChunkSent = [&](size_t) {
        QFile file(path);
        if (file.open(QIODevice::Append))
            file.write(QByteArray(5000, 'x'));
    };
    EXPECT_EQ(get("GET /grow.txt HTTP/1.0\r\n\r\n"),
              fileReply("text/plain", content.toStdString()));
}

// "That is all" (a shutdown of the client's sending side, as `nc -N` does) ends the request's
// input: a whole request is answered and carried out, an incomplete one is closed at once.
TEST_F(Hardening, HalfClosingClientIsAnsweredAndAnIncompleteRequestEndsAtOnce) {
    const uint16_t port = portNumber;
    const auto halfClose = [port](const std::string& request) {
        return [port, request] {
            const int fd = client::connectTo(port);
            client::sendAll(fd, request);
            ::shutdown(fd, SHUT_WR);
            const auto start = std::chrono::steady_clock::now();
            Ending ending;
            ending.reply = client::readAll(fd);
            ending.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ::close(fd);
            return ending;
        };
    };
    EXPECT_EQ(onClient(halfClose("GET /index.htm HTTP/1.0\r\n\r\n")).reply,
              fileReply("text/html", "<p>home</p>"));
    EXPECT_EQ(onClient(halfClose("PUT /half.txt HTTP/1.0\r\nContent-Length: 4\r\n\r\nhalf")).reply,
              page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("half.txt"), "half");
    // The idle limit is 5 s: an incomplete request must not wait for it.
    const Ending incomplete = onClient(halfClose("GET /index.htm HTTP/1.0\r\n"));
    EXPECT_EQ(incomplete.reply, "");
    EXPECT_LT(incomplete.seconds, 3);
}

// Without a base folder a target would be an absolute path: nothing is served or stored.
TEST_F(Hardening, NoBaseFolderServesAndStoresNothing) {
    settings.BaseFolder = " ";
    EXPECT_EQ(get("GET " + QFile::encodeName(docroot.path()).toStdString() +
                  "/index.htm HTTP/1.0\r\n\r\n"),
              page(404, "Not Found", "<h2>File not really found</h2>"));
    const std::string target = QFile::encodeName(docroot.path()).toStdString() + "/stored.txt";
    EXPECT_EQ(get("PUT " + target + " HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: " + target));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/stored.txt"));
}
