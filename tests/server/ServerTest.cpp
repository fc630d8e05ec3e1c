#include "ServerFixture.h"
#include "server/RequestLog.h"
#include "support/FileSizeLimit.h"

#include <QDir>

#include <csignal>
#include <sys/resource.h>

namespace {

class Server : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        writeFile("index.htm", "<p>home</p>");
        portNumber = start();
    }
};

const std::string kNotSupported = page(501, "Not Implemented", "Request not supported");
const std::string kNotFound = page(404, "Not Found", "<h2>File not really found</h2>");

std::string fileReply(const std::string& type, const std::string& body) {
    return "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST_F(Server, ShowsListeningStateAndPort) {
    EXPECT_EQ(view.Caption(), "Server: Listening");
    EXPECT_EQ(view.TrayHint(), "Server: Listening on port " + QString::number(portNumber))
        << "the port bound, not the setting's 0";
    EXPECT_FALSE(view.startEnabled);
    EXPECT_TRUE(view.stopEnabled);
    EXPECT_EQ(server->ServerButtonsMode, 2);
    server->StopServer();
    EXPECT_EQ(view.Caption(), "Server: Stopped");
    EXPECT_EQ(view.TrayHint(), "Server: Stopped");
    EXPECT_TRUE(view.startEnabled);
    EXPECT_FALSE(view.stopEnabled);
}

TEST_F(Server, ErrorPagesByteForByte) {
    EXPECT_EQ(get("\r\n\r\n"), page(400, "Bad Request", "You doesn't say anything! Try again"));
    EXPECT_EQ(get("HEAD / HTTP/1.0\r\n\r\n"), kNotSupported);
    EXPECT_EQ(get("GET /missing.htm HTTP/1.0\r\n\r\n"), kNotFound);
}

TEST_F(Server, FileReplyByteForByteWithDefaultDocument) {
    EXPECT_EQ(get("GET / HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"));
    EXPECT_EQ(get("GET /index.htm  HTTP/1.1\r\nHost: x\r\n\r\n"),
              fileReply("text/html", "<p>home</p>"));
    EXPECT_EQ(get("GETS /index.htm HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"));
    EXPECT_EQ(get("GET/index.htm HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"));
}

TEST_F(Server, RoutingRefusals) {
    QDir().mkpath(docroot.path() + "/docs");
    writeFile("my%20page.htm", "literal");
    for (const char* line :
         {"GET /index.htm", "GET /index.htm HTTP/1.0 ", "GET /index.htm HTTP/1.10",
          "get /index.htm HTTP/1.0", "DELETE /index.htm HTTP/1.0"})
        EXPECT_EQ(get(std::string(line) + "\r\n\r\n"), kNotSupported) << line;
    EXPECT_EQ(get("\r\nGET / HTTP/1.0\r\n\r\n"), kNotSupported) << "an empty first line";
    EXPECT_EQ(get("GET /docs/ HTTP/1.0\r\n\r\n"), kNotFound);
    EXPECT_EQ(get("GET /my%20page.htm HTTP/1.0\r\n\r\n"), fileReply("text/html", "literal"));
}

TEST_F(Server, ContentTypesFromTheTable) {
    writeFile("a.GIF", "g");
    writeFile("noext", "n");
    writeFile("b.weird", "w");
    mime.SetMIME("blank", " ");
    writeFile("c.blank", "b");
    EXPECT_EQ(get("GET /a.GIF HTTP/1.0\r\n\r\n"), fileReply("image/gif", "g"));
    EXPECT_EQ(get("GET /noext HTTP/1.0\r\n\r\n"), fileReply("binary/data", "n"));
    EXPECT_EQ(get("GET /b.weird HTTP/1.0\r\n\r\n"), fileReply("binary/data", "w"));
    EXPECT_EQ(get("GET /c.blank HTTP/1.0\r\n\r\n"), fileReply("binary/data", "b"));
    writeFile("empty.txt", "");
    EXPECT_EQ(get("GET /empty.txt HTTP/1.0\r\n\r\n"), fileReply("text/plain", ""));
}

TEST_F(Server, LargeFileArrivesWhole) {
    QByteArray content(10000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    writeFile("big.bin", content);
    EXPECT_EQ(get("GET /big.bin HTTP/1.0\r\n\r\n"),
              fileReply("application/octet-stream", content.toStdString()));
}

// Larger than one read block and not a multiple of a chunk: every block boundary and the short
// last chunk are crossed.
TEST_F(Server, FileOfSeveralReadBlocksArrivesWhole) {
    QByteArray content(200001, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 31) ^ (i >> 12));
    writeFile("blocks.bin", content);
    EXPECT_EQ(get("GET /blocks.bin HTTP/1.0\r\n\r\n"),
              fileReply("application/octet-stream", content.toStdString()));
}

// The editor's table is read from the copy it last published: a change applies from the next
// request.
TEST_F(Server, AnEditorChangeAppliesFromTheNextRequest) {
    writeFile("data.kru", QByteArray("k"));
    EXPECT_EQ(get("GET /data.kru HTTP/1.0\r\n\r\n"), fileReply("binary/data", "k"));
    mime.SetMIME("kru", "text/x-koru");
    EXPECT_EQ(get("GET /data.kru HTTP/1.0\r\n\r\n"), fileReply("text/x-koru", "k"));
}

TEST_F(Server, FileGoesOutInChunksOf4096) {
    const ChunkLog chunks(context);
    writeFile("ten.txt", QByteArray(10000, 't'));
    EXPECT_EQ(get("GET /ten.txt HTTP/1.0\r\n\r\n").size(), 10000 + 90u);
    EXPECT_EQ(chunks.sizes(), (std::vector<size_t>{4096, 4096, 1808}));
}

TEST_F(Server, FileThatShrinksDuringDeliveryEndsTheReplyWithoutStaleBytes) {
    QByteArray content(200000, Qt::Uninitialized);
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('a' + (i / 7) % 26);
    writeFile("shrink.txt", content);
    const QString path = docroot.path() + "/shrink.txt";
    context.afterChunkSent = [&](size_t) { QFile::resize(path, 5000); };
    const std::string reply = get("GET /shrink.txt HTTP/1.0\r\n\r\n");
    const std::string header = "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: "
                               "text/plain\r\nContent-Length: 200000\r\n\r\n";
    ASSERT_EQ(reply.substr(0, header.size()), header);
    // Whole chunks of what the file held when they were read, then the connection closes.
    const std::string body = reply.substr(header.size());
    EXPECT_GE(body.size(), 4096u);
    EXPECT_LT(body.size(), 200000u);
    EXPECT_EQ(body.size() % 4096, 0u);
    EXPECT_EQ(body, content.left(static_cast<qsizetype>(body.size())).toStdString());
}

// A pipe or a folder in the base folder is no file to send, and opening it must not hold the
// worker: a pipe nobody writes to would never open for reading otherwise.
TEST_F(Server, PipesAndFoldersAreNotFiles) {
    const QByteArray pipe = QFile::encodeName(docroot.path() + "/pipe");
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    ASSERT_TRUE(QDir(docroot.path()).mkdir("folder"));
    const std::string notFound = page(404, "Not Found", "<h2>File not really found</h2>");
    EXPECT_EQ(get("GET /pipe HTTP/1.0\r\n\r\n"), notFound);
    EXPECT_EQ(get("GET /folder HTTP/1.0\r\n\r\n"), notFound);
}

TEST_F(Server, NothingOutsideTheBaseFolder) {
    const QString outside =
        docroot.path() + "/../koru-outside-" + QString::number(QCoreApplication::applicationPid());
    QFile secret(outside);
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    const std::string name = QFileInfo(outside).fileName().toStdString();
    EXPECT_EQ(get("GET /../" + name + " HTTP/1.0\r\n\r\n"), kNotFound);
    EXPECT_EQ(get("GET /x\\..\\..\\" + name + " HTTP/1.0\r\n\r\n"), kNotFound);
    // A target that would really reach the file, were the "\\" not taken for a separator.
    EXPECT_EQ(get("GET /..\\" + name + " HTTP/1.0\r\n\r\n"), kNotFound);
    EXPECT_EQ(get("PUT /..\\koru-put-" + name + " HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /..\\koru-put-" + name));
    EXPECT_EQ(get("PUT /../koru-put-" + name + " HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /../koru-put-" + name));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/../koru-put-" + QString::fromStdString(name)));
    QFile::remove(outside);
}

TEST_F(Server, ContentLengthRules) {
    const std::string saved = page(200, "OK", "File saved");
    EXPECT_EQ(onClient([this] {
                  return client::exchange(
                      portNumber, {"PUT /a.txt HTTP/1.0\r\ncontent-length:5\r\n\r\nhel", "lo"},
                      150);
              }),
              saved);
    EXPECT_EQ(readFile("a.txt"), "hello");
    EXPECT_EQ(get("PUT /b.txt HTTP/1.0\r\nContent-Length: x7\r\n\r\n"), saved);
    EXPECT_EQ(readFile("b.txt"), "");
    // Without a length, what arrived with the header is no proof of the whole body: a client that
    // streams its body got "File saved" for its first piece, or for nothing.
    const std::string required = page(411, "Length Required", "Content-Length required");
    EXPECT_EQ(get("PUT /c.txt HTTP/1.0\r\n\r\nextra"), required);
    EXPECT_EQ(onClient([this] {
                  return client::exchange(
                      portNumber, {"PUT /s.txt HTTP/1.0\r\n\r\n", std::string(20000, 's')}, 50);
              }),
              required);
    EXPECT_EQ(readFile("c.txt"), "<missing>");
    EXPECT_EQ(readFile("s.txt"), "<missing>");
}

TEST_F(Server, DeclaredLengthNeverReachedClosesWithoutReplyAfterIdleLimit) {
    settings.IdleSeconds = " 1 ";
    EXPECT_EQ(get("PUT /d.txt HTTP/1.0\r\nContent-Length: 10\r\n\r\n123456789"), "");
    EXPECT_FALSE(QFile::exists(docroot.path() + "/d.txt"));
}

TEST_F(Server, IdleLimitRestartsWithEachArrival) {
    settings.IdleSeconds = "1";
    // Four pieces 600 ms apart: 1.8 s in all, but never a second of silence.
    const std::string reply = onClient([this] {
        return client::exchange(
            portNumber, {"PUT /e.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\n", "1", "2", "3"}, 600);
    });
    EXPECT_EQ(reply, page(200, "OK", "File saved"));
}

TEST_F(Server, CompleteRequestIsServedEvenWithZeroIdleLimit) {
    settings.IdleSeconds = "0";
    EXPECT_EQ(get("GET / HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"));
}

TEST_F(Server, SecondRequestOnOneConnectionIsIgnored) {
    EXPECT_EQ(get("GET / HTTP/1.0\r\n\r\nGET /index.htm HTTP/1.0\r\n\r\n"),
              fileReply("text/html", "<p>home</p>"));
}

TEST_F(Server, UploadRules) {
    const std::string saved = page(200, "OK", "File saved");
    EXPECT_EQ(get("PUT /new.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello"), saved);
    EXPECT_EQ(readFile("new.txt"), "hello");
    EXPECT_EQ(get("PUT /new.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nbye"),
              page(406, "Not Acceptable", "File already exists"));
    EXPECT_EQ(readFile("new.txt"), "hello");
    EXPECT_EQ(get("PUT / HTTP/1.0\r\nContent-Length: 0\r\n\r\n"),
              page(406, "Not Acceptable", "File already exists"));
    EXPECT_EQ(get("PUT /nofolder/x.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /nofolder/x.txt"));
    EXPECT_EQ(get("PUT /x.txt HTTP/1.x0\r\n\r\n"),
              page(406, "Not Acceptable", "Cannot create such a file: "));
    // An empty target names the base folder itself, with or without a streamed body.
    for (const char* request :
         {"PUT /x HTTP/2.0\r\nContent-Length: 1\r\n\r\nx", "PUT /x\r\nContent-Length: 2\r\n\r\nxy"})
        EXPECT_EQ(get(request), page(406, "Not Acceptable", "Cannot create such a file: "))
            << request;
}

// Requests that are whole before their workers run are taken by a read made before the worker
// sets its socket up: each must still be answered exactly, also when that read is filled and the
// header or an upload's body goes on beyond it.
TEST_F(Server, ABurstOfWholeRequestsIsEachAnsweredExactly) {
    writeFile("burst.txt", "b");
    const std::string pad = "X-Pad: " + std::string(3000, 'x') + "\r\n";
    const std::string body(5000, 'u');
    constexpr int kConnections = 48;
    std::vector<std::string> requests;
    for (int i = 0; i < kConnections; ++i) {
        const std::string upload =
            "PUT /up" + std::to_string(i) + ".txt HTTP/1.0\r\nContent-Length: 5000\r\n\r\n" + body;
        requests.push_back(i % 3 == 0   ? "GET /burst.txt HTTP/1.0\r\n\r\n"
                           : i % 3 == 1 ? "GET /burst.txt HTTP/1.0\r\n" + pad + "\r\n"
                                        : upload);
    }
    const uint16_t port = portNumber;
    const std::vector<std::string> replies = onClient([port, &requests] {
        std::vector<int> fds;
        for (const std::string& request : requests) {
            fds.push_back(client::connectTo(port));
            client::sendAll(fds.back(), request);
        }
        std::vector<std::string> got;
        for (const int fd : fds) {
            got.push_back(client::readAll(fd));
            ::close(fd);
        }
        return got;
    });
    for (int i = 0; i < kConnections; ++i) {
        if (i % 3 == 2) {
            EXPECT_EQ(replies[static_cast<size_t>(i)], page(200, "OK", "File saved")) << i;
            EXPECT_EQ(readFile("up" + QString::number(i) + ".txt"),
                      QByteArray::fromStdString(body));
        } else {
            EXPECT_EQ(replies[static_cast<size_t>(i)], fileReply("text/plain", "b")) << i;
        }
    }
}

TEST_F(Server, RacingUploadsCreateOneWholeFile) {
    const std::string body(100000, 'r');
    std::vector<std::future<std::string>> replies;
    const uint16_t port = portNumber;
    for (int i = 0; i < 6; ++i)
        replies.push_back(std::async(std::launch::async, [port, body, i] {
            std::string mine = body;
            mine[0] = static_cast<char>('0' + i);
            return client::exchange(
                port, {"PUT /race.txt HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" + mine});
        }));
    int saved = 0;
    int refused = 0;
    for (auto& reply : replies) {
        testwait::Until(
            [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        const std::string text = reply.get();
        saved += text == page(200, "OK", "File saved");
        refused += text == page(406, "Not Acceptable", "File already exists");
    }
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(refused, 5);
    const QByteArray stored = readFile("race.txt");
    EXPECT_EQ(stored.size(), 100000);
    EXPECT_EQ(stored.mid(1), QByteArray(99999, 'r'));
}

TEST_F(Server, FailedWriteRemovesThePartialFileAndSaysSo) {
    std::string reply;
    {
        const FileSizeLimit full(1000);
        reply =
            get("PUT /full.txt HTTP/1.0\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'f'));
    }
    EXPECT_EQ(reply, page(500, "Internal Server Error", "Cannot write such a file: /full.txt"));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/full.txt"));
}

TEST_F(Server, OversizedRequestsAreRefusedAtOnce) {
    const std::string tooLarge = page(413, "Request Entity Too Large", "Request too large");
    // An upload may be as large as its file system's free space (see Access tests); past 2^62
    // bytes it is refused whatever the room.
    EXPECT_EQ(get("PUT /big HTTP/1.0\r\nContent-Length: 4611686018427387905\r\n\r\n"), tooLarge);
    EXPECT_EQ(get("PUT /big HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n"),
              tooLarge);
    EXPECT_EQ(get("GET /" + std::string(70000, 'a')), tooLarge);
    EXPECT_FALSE(QFile::exists(docroot.path() + "/big"));
}

TEST_F(Server, PluginNamesWithoutModulesGetTheFailureReply) {
    const std::string cgiFail =
        page(500, "Internal Server Error", "Cannot create temporary file. CGI fail.");
    EXPECT_EQ(get("GET /nosuch?x HTTP/1.0\r\n\r\n"), cgiFail);
    EXPECT_EQ(get("GET /?x HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"))
        << "a start page link with a query added";
    EXPECT_EQ(get("POST /index.htm HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1"), cgiFail)
        << "POST never serves a file";
}

TEST_F(Server, LogLinesForEveryRequestLine) {
    get("GET /index.htm HTTP/1.0\r\n\r\n");
    get("BREW /pot HTTP/1.0\r\n\r\n");
    get("\r\n\r\n");
    settings.LogEnabled = false;
    get("GET /quiet HTTP/1.0\r\n\r\n");
    settings.LogEnabled = true;
    const QList<QByteArray> lines = readFile("koru.log").split('\n');
    ASSERT_EQ(lines.size(), 3) << readFile("koru.log").constData();
    for (int i = 0; i < 2; ++i) {
        const QList<QByteArray> fields = lines[i].split('\t');
        ASSERT_EQ(fields.size(), 3);
        EXPECT_FALSE(fields[0].isEmpty());
        EXPECT_EQ(fields[1], "127.0.0.1");
        EXPECT_TRUE(fields[2].endsWith('\r'));
    }
    EXPECT_EQ(lines[0].split('\t')[2], "GET /index.htm HTTP/1.0\r");
    EXPECT_EQ(lines[1].split('\t')[2], "BREW /pot HTTP/1.0\r");
    EXPECT_EQ(lines[2], "");
}

TEST_F(Server, ALostLogLineIsReportedOnceAndTheRequestStillServed) {
    QStringList problems;
    context.logLineLost = [&problems](const QString& problem) { problems << problem; };
    settings.LogFile = docroot.path() + "/no-folder/koru.log";
    EXPECT_EQ(get("GET / HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"));
    EXPECT_EQ(get("GET / HTTP/1.0\r\n\r\n"), fileReply("text/html", "<p>home</p>"));
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].endsWith("/no-folder/koru.log")) << problems[0].toStdString();
}

// A loss is told with its reason, once for as long as it lasts; a line that is written again ends
// it, and the next loss is news again.
TEST_F(Server, ALogLossIsToldUntilALineIsWrittenAgain) {
    QStringList events;
    context.logLineLost = [&events](const QString& problem) { events << problem; };
    context.logLossEnded = [&events] { events << "written"; };
    const QString folder = docroot.path() + "/later";
    settings.LogFile = folder + "/koru.log";
    requestlog::Write(context, 1, "127.0.0.1", "GET /1 HTTP/1.0");
    requestlog::Write(context, 1, "127.0.0.1", "GET /2 HTTP/1.0");
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0], "Request log lines are lost (a folder on its path does not exist): "
                         "cannot write to " +
                             settings.LogFile);
    requestlog::Write(context, 1, "127.0.0.1", "GET /3 HTTP/1.0");
    ASSERT_TRUE(QDir().mkpath(folder));
    requestlog::Write(context, 1, "127.0.0.1", "GET /4 HTTP/1.0");
    requestlog::Write(context, 1, "127.0.0.1", "GET /5 HTTP/1.0");
    EXPECT_EQ(events.size(), 2) << "the end of a loss is told once";
    EXPECT_EQ(events.value(1), "written");

    // Switched off: no line is lost any more.
    settings.LogFile = folder + "/gone/koru.log";
    requestlog::Write(context, 1, "127.0.0.1", "GET /6 HTTP/1.0");
    settings.LogEnabled = false;
    requestlog::Write(context, 1, "127.0.0.1", "GET /7 HTTP/1.0");
    EXPECT_EQ(events.size(), 4);
    EXPECT_EQ(events.value(3), "written");

    EXPECT_EQ(readFile("later/koru.log").count("\r\n"), 2) << "the lines written are whole";
}

TEST_F(Server, CountersFollowConnections) {
    const uint16_t port = portNumber;
    // A connection that never sends anything still counts, and keeps a client alive a while.
    settings.IdleSeconds = "1";
    const int silent = onClient([port] { return client::connectTo(port); });
    EXPECT_TRUE(testwait::Until([&] { return view.status[1] == "Requests: 1"; }));
    EXPECT_TRUE(testwait::Until([&] { return view.status[0] == "Clients: 1"; }));
    get("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(testwait::Until([&] { return view.status[0] == "Clients: 0"; }));
    ::close(silent);
    EXPECT_EQ(view.status[1], "Requests: 2");
    server->StopServer();
    portNumber = start();
    get("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(testwait::Until([&] { return view.status[1] == "Requests: 3"; }))
        << "the count survives a restart";
    EXPECT_TRUE(testwait::Until([&] { return view.status[0] == "Clients: 0"; }));
    EXPECT_NE(std::find(view.clientsHistory.begin(), view.clientsHistory.end(), "Clients: 2"),
              view.clientsHistory.end());
}

TEST_F(Server, BusyPortFailsAndALaterStartSucceeds) {
    TServerControl second(context);
    settings.ListenPort = QString::number(portNumber);
    EXPECT_THROW(second.StartServer(), ESocketException);
    settings.ListenPort = "0";
    EXPECT_NO_THROW(second.StartServer());
    second.StopServer();
}

// A module file put into the plug-ins folder would be loaded, and run as the owner, at the next
// start: no upload may land there when that folder lies inside the base folder.
TEST_F(Server, UploadsNeverReachThePluginsFolder) {
    QDir(docroot.path()).mkpath("plugins/sub");
    const std::string refused = "Cannot create such a file: ";
    const auto tryUpload = [this](const std::string& target) {
        return get("PUT " + target + " HTTP/1.0\r\nContent-Length: 4\r\n\r\nELF!");
    };
    for (const QString& plugins :
         {docroot.path() + "/plugins", docroot.path() + "/plugins/", docroot.path() + "\\plugins\\",
          " " + docroot.path() + "/./plugins "}) {
        settings.PluginsPath = plugins;
        for (const char* target : {"/plugins/Visitor.SO", "/plugins/sub/x.so", "\\plugins\\y.so"})
            EXPECT_EQ(tryUpload(target), page(406, "Not Acceptable", refused + target))
                << target << " with " << plugins.toStdString();
    }
    EXPECT_EQ(tryUpload("/elsewhere.so"), page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("plugins/Visitor.SO"), "<missing>");
    EXPECT_TRUE(QDir(docroot.path() + "/plugins").entryList(QDir::Files | QDir::Hidden).isEmpty());

    // A blank plug-ins path is the program's current folder.
    settings.PluginsPath = "  ";
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(docroot.path() + "/plugins"));
    EXPECT_EQ(tryUpload("/plugins/z.so"), page(406, "Not Acceptable", refused + "/plugins/z.so"));
    QDir::setCurrent(before);
}

TEST_F(Server, UploadTemporariesAreNeverServedNorCreated) {
    writeFile(".koru-upload-Ab12Cd", "someone's upload in progress");
    EXPECT_EQ(get("GET /.koru-upload-Ab12Cd HTTP/1.0\r\n\r\n"), kNotFound);
    EXPECT_EQ(get("PUT /.koru-upload-new HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /.koru-upload-new"));
    EXPECT_EQ(readFile(".koru-upload-new"), "<missing>");
}
