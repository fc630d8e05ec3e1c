#include "ServerFixture.h"
#include "platform/UiCalls.h"

namespace {

class PluginInvoke : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        installModules(KORU_TEST_MODULE_DIR, {"shop", "queryonly", "querythrows"});
    }
    // The page a module's body becomes, with the configured header and footer.
    static std::string pluginReply(const std::string& statusLine, const std::string& headers,
                                   const std::string& body) {
        const std::string page = "<H>" + body + "</H>";
        return statusLine + headers + "Content-Length: " + std::to_string(page.size()) +
               "\r\nContent:\r\n\r\n" + page;
    }
};

const std::string kCgiFail =
    page(500, "Internal Server Error", "Cannot create temporary file. CGI fail.");

} // namespace

TEST_F(PluginInvoke, ModulesLiveWhileTheServerListens) {
    EXPECT_FALSE(plugins.PluginsLoaded());
    portNumber = start();
    EXPECT_TRUE(plugins.PluginsLoaded());
    EXPECT_EQ(plugins.Lines().size(), 3);
    server->StopServer();
    EXPECT_FALSE(plugins.PluginsLoaded());
    EXPECT_TRUE(plugins.Lines().isEmpty());
}

// Files that are no module of this machine, or a module that raises in its initialisation, are
// skipped and named; the server listens and serves all the same. A module file cut short (a copy
// in progress) ended the program with SIGBUS at every start; a raising KORUPGInit left a port that
// accepted nothing.
TEST_F(PluginInvoke, BrokenModuleFilesAreSkippedAndTheServerServes) {
    const QString folder = settings.PluginsPath;
    QFile whole(QString(KORU_TEST_MODULE_DIR) + "/shop.so");
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray module = whole.readAll();
    ASSERT_TRUE(testfiles::write(folder + "/halfcopied.so", module.left(4096)));
    QByteArray otherClass = module;
    otherClass[4] = 1; // ELFCLASS32
    ASSERT_TRUE(testfiles::write(folder + "/otherclass.so", otherClass));
    ASSERT_TRUE(testfiles::write(folder + "/random.so", QByteArray(8192, '\x5a')));
    QDir(folder).mkdir("folder.so");
    ASSERT_TRUE(
        QFile::copy(QString(KORU_TEST_MODULE_DIR) + "/initthrows.so", folder + "/initthrows.so"));
    QStringList reported;
    plugins.OnProblem = [&reported](const QString& problem) { reported << problem; };
    writeFile("index.htm", "<p>home</p>");

    portNumber = start();

    EXPECT_EQ(view.Caption(), "Server: Listening");
    EXPECT_EQ(plugins.Lines().size(), 3);
    QStringList skipped = plugins.Skipped();
    skipped.sort();
    ASSERT_EQ(skipped.size(), 5) << skipped.join('\n').toStdString();
    EXPECT_EQ(skipped[0], "folder.so: skipped, a folder");
    EXPECT_EQ(skipped[1], "halfcopied.so: skipped, cut short (a copy still in progress?)");
    EXPECT_TRUE(skipped[2].startsWith("initthrows.so: skipped, Plugin "))
        << skipped[2].toStdString();
    EXPECT_TRUE(skipped[2].endsWith("raised an error in KORUPGInit: init refused"));
    EXPECT_EQ(skipped[3], "otherclass.so: skipped, a library for another kind of machine");
    EXPECT_EQ(skipped[4], "random.so: skipped, not a shared library");
    EXPECT_EQ(reported.size(), 5) << "each reported once";
    EXPECT_TRUE(get("GET / HTTP/1.0\r\n\r\n").ends_with("<p>home</p>"));
    EXPECT_EQ(get("GET /QueryOnly?x=1 HTTP/1.0\r\n\r\n"),
              pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "q:x=1"));
    server->StopServer();
    EXPECT_TRUE(plugins.Skipped().isEmpty());
}

// Module calls ran on 256 KiB stacks: ordinary code (a regular expression over a thousand
// characters, a recursive parser) ended the program with SIGSEGV.
TEST_F(PluginInvoke, ModuleCallsGetAnOrdinaryThreadsStack) {
    installModules(KORU_TEST_MODULE_DIR, {"deep"});
    portNumber = start();
    EXPECT_EQ(get("GET /deep?4000 HTTP/1.0\r\n\r\n"),
              pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "matched 0"));
}

TEST_F(PluginInvoke, BasicQueryBodyIsWrappedInHeaderAndFooter) {
    // A module of the name always comes before a file that a link with a query could reach.
    writeFile("QueryOnly", "a file of the module's name");
    portNumber = start();
    EXPECT_EQ(get("GET /QueryOnly?x=1 HTTP/1.0\r\n\r\n"),
              pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "q:x=1"));
    EXPECT_EQ(get("POST /queryonly?a=1 HTTP/1.0\r\nContent-Length: 3\r\n\r\nb=2"),
              pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "q:a=1?b=2"));
    EXPECT_EQ(get("POST /queryonly HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1"),
              pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "q:a=1"));
}

TEST_F(PluginInvoke, ExtendedQuerySetsStatusHeaderAndBody) {
    portNumber = start();
    const std::string request = "GET /sHOP_\xC3\xA4?abc HTTP/1.0\r\nX: y\r\n\r\n";
    EXPECT_EQ(get(request),
              pluginReply("HTTP/1.0 201 Created\r\n", "X-Shop: 1\r\nContent-type: text/html\r\n",
                          "peer=127.0.0.1;request=" + request + ";query=abc;body="));
    // Letters outside a to z are not case-folded.
    EXPECT_EQ(get("GET /SHOP_\xC3\x84?abc HTTP/1.0\r\n\r\n"), kCgiFail);
}

TEST_F(PluginInvoke, UnknownNamesAndStoppedServerGetTheFailureReply) {
    portNumber = start();
    EXPECT_EQ(get("GET /nosuch?x HTTP/1.0\r\n\r\n"), kCgiFail);
    EXPECT_EQ(get("GET /?x HTTP/1.0\r\n\r\n"), kCgiFail);
}

TEST_F(PluginInvoke, ModuleGoneBetweenLookupAndCallAnswers405) {
    context.beforePluginCall = [this] {
        platform::RunOnUiThread([this] { server->StopServer(); });
    };
    portNumber = start();
    EXPECT_EQ(get("GET /queryonly?z HTTP/1.0\r\n\r\n"),
              page(405, "Method Not Allowed", "Cannot run plugin (/queryonly?z)"));
    EXPECT_FALSE(plugins.PluginsLoaded());
}

TEST_F(PluginInvoke, RequestAfterTheStopFindsNoModule) {
    portNumber = start();
    const uint16_t port = portNumber;
    // The connection is accepted while listening; its request arrives after the stop.
    const int fd = onClient([port] { return client::connectTo(port); });
    ASSERT_TRUE(testwait::Until([&] { return view.status[0] == "Clients: 1"; }));
    server->StopServer();
    const std::string reply = onClient([fd] {
        client::sendAll(fd, "GET /queryonly?late HTTP/1.0\r\n\r\n");
        std::string text = client::readAll(fd);
        ::close(fd);
        return text;
    });
    EXPECT_EQ(reply, kCgiFail);
}

TEST_F(PluginInvoke, RaisingModuleClosesWithoutReply) {
    portNumber = start();
    EXPECT_EQ(get("GET /querythrows?x HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(get("GET /shop_\xC3\xA4?throw HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(get("GET /queryonly?still HTTP/1.0\r\n\r\n"),
              pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "q:still"));
}

// A reply that a peer reads steadily, more slowly than the idle limit allows for the whole of
// it, arrives whole: the limit counts from the last progress, not from the start of the send.
TEST_F(PluginInvoke, SlowReaderGetsTheWholeOfALargeReply) {
    settings.IdleSeconds = "1";
    portNumber = start();
    const uint16_t port = portNumber;
    const std::string query(1024 * 1024, 'q');
    const std::string reply = onClient([port, query] {
        const int fd = client::connectTo(port, 16 * 1024);
        client::sendAll(fd, "POST /queryonly HTTP/1.0\r\nContent-Length: " +
                                std::to_string(query.size()) + "\r\n\r\n" + query);
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        // About 400 KB a second: the megabyte takes well over the one-second limit.
        std::string bytes;
        char buffer[16 * 1024];
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            bytes.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
        return bytes;
    });
    EXPECT_EQ(
        reply.size(),
        pluginReply("HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\n", "q:" + query).size());
}
