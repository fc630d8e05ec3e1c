// What a browser and a phone get through a real server: names with blanks and accents, the start
// page in another letter case, folders, and links that carry a query.
#include "ServerFixture.h"

namespace {

const std::string kNotFound = page(404, "Not Found", "<h2>File not really found</h2>");
const std::string kCgiFail =
    page(500, "Internal Server Error", "Cannot create temporary file. CGI fail.");

std::string fileReply(const std::string& type, const std::string& body) {
    return "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string browserGet(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: phone\r\n\r\n";
}

class BrowserNames : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        settings.BaseFileName = "Index.Htm";
        writeFile("index.htm", "<p>home</p>");
        writeFile("holiday photo.jpg", "jpeg");
        writeFile("R\xC3\xA9sum\xC3\xA9.pdf", "pdf");
        writeFile("my%20page.htm", "literal");
        writeFile("my page.htm", "decoded");
        writeFile("music/my song.mp3", "mp3");
        writeFile("docs/INDEX.html", "<p>docs</p>");
        writeFile("../koru-outside.txt", "secret");
    }
    void TearDown() override {
        QFile::remove(docroot.path() + "/../koru-outside.txt");
        ServerFixture::TearDown();
    }
    void serve(bool folderPages) {
        settings.FolderPages = folderPages;
        portNumber = start();
    }
    // The status line and the body of a reply.
    static std::pair<std::string, std::string> split(const std::string& reply) {
        const size_t line = reply.find("\r\n");
        const size_t blank = reply.find("\r\n\r\n");
        return {reply.substr(0, line),
                blank == std::string::npos ? std::string() : reply.substr(blank + 4)};
    }
};

} // namespace

TEST_F(BrowserNames, EveryNameABrowserSendsReachesItsFile) {
    serve(false);
    EXPECT_EQ(get(browserGet("/holiday%20photo.jpg")), fileReply("image/jpg", "jpeg"));
    EXPECT_EQ(get(browserGet("/R%C3%A9sum%c3%a9.pdf")), fileReply("binary/data", "pdf"))
        << "the built-in table has no pdf";
    EXPECT_EQ(get(browserGet("/music/my%20song.mp3")), fileReply("binary/data", "mp3"));
    // The name as received wins over its decoded form: a site may hold both.
    EXPECT_EQ(get(browserGet("/my%20page.htm")), fileReply("text/html", "literal"));
    EXPECT_EQ(get(browserGet("/my page.htm")), fileReply("text/html", "decoded"));
    // The start page by the default document's name in another letter case.
    EXPECT_EQ(get(browserGet("/")), fileReply("text/html", "<p>home</p>"));
    // Decoded names are held to the raw names' rules.
    for (const char* target :
         {"/%2e%2e/koru-outside.txt", "/..%2Fkoru-outside.txt",
          "/music/%2E%2E%5C..%5Ckoru-outside.txt", "/index.htm%00.jpg", "/index%0a.htm"})
        EXPECT_EQ(get(browserGet(target)), kNotFound) << target;
    // Without folder pages a folder answers as before.
    EXPECT_EQ(get(browserGet("/music/")), kNotFound);
    EXPECT_EQ(get(browserGet("/music")), kNotFound);
}

TEST_F(BrowserNames, LinksWithAQueryReachTheirFileAndOtherwiseFailAsBefore) {
    serve(false);
    EXPECT_EQ(get(browserGet("/holiday%20photo.jpg?fbclid=abc")), fileReply("image/jpg", "jpeg"));
    EXPECT_EQ(get(browserGet("/?utm_source=x")), fileReply("text/html", "<p>home</p>"));
    EXPECT_EQ(get(browserGet("/nosuch?x")), kCgiFail);
    EXPECT_EQ(get(browserGet("/music?x")), kCgiFail) << "a folder without folder pages";
    EXPECT_EQ(get(browserGet("/%2e%2e/koru-outside.txt?x")), kCgiFail);
    EXPECT_EQ(get("POST /index.htm HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1"), kCgiFail)
        << "POST never serves a file";
}

TEST_F(BrowserNames, FolderPagesListAFolderOrServeItsOwnDocument) {
    writeFile(".hidden", "h");
    serve(true);
    const auto [status, body] = split(get(browserGet("/music/")));
    EXPECT_EQ(status, "HTTP/1.0 200 OK");
    EXPECT_NE(body.find("href=\"my%20song.mp3\""), std::string::npos) << body;
    EXPECT_NE(body.find("my song.mp3"), std::string::npos);
    EXPECT_NE(get(browserGet("/music/")).find("Content-Type: text/html; charset=utf-8\r\n"),
              std::string::npos);
    // A page asked for again is not read again, but a file added shows at once.
    writeFile("music/new song.mp3", "new");
    EXPECT_NE(get(browserGet("/music/")).find("href=\"new%20song.mp3\""), std::string::npos);
    writeFile("music/index.html", "<p>music</p>");
    EXPECT_EQ(get(browserGet("/music/")), fileReply("text/html", "<p>music</p>"))
        << "a document added to a listed folder";
    QFile::remove(docroot.path() + "/music/index.html");

    const std::string moved = get(browserGet("/music"));
    EXPECT_EQ(split(moved).first, "HTTP/1.0 301 Moved Permanently");
    EXPECT_NE(moved.find("\r\nLocation: /music/\r\n"), std::string::npos) << moved;
    EXPECT_NE(get(browserGet("/music?from=chat")).find("\r\nLocation: /music/\r\n"),
              std::string::npos);

    EXPECT_EQ(get(browserGet("/docs/")), fileReply("text/html", "<p>docs</p>"))
        << "index.html in another letter case";
    EXPECT_EQ(get(browserGet("/")), fileReply("text/html", "<p>home</p>"));

    // The top folder's page, once it has no document of its own, leaves out dot files.
    QFile::remove(docroot.path() + "/index.htm");
    const auto [topStatus, top] = split(get(browserGet("/")));
    EXPECT_EQ(topStatus, "HTTP/1.0 200 OK");
    EXPECT_NE(top.find("href=\"holiday%20photo.jpg\""), std::string::npos) << top;
    EXPECT_NE(top.find("href=\"music/\""), std::string::npos) << top;
    EXPECT_EQ(top.find(".hidden"), std::string::npos) << top;
    EXPECT_EQ(top.find("koru.log"), std::string::npos) << "the request log is never listed";
    EXPECT_EQ(split(get(browserGet("/?utm_source=x"))).second, top);

    // A folder that cannot be read is not shown in part.
    ASSERT_EQ(::chmod(QFile::encodeName(docroot.path() + "/music").constData(), 0), 0);
    if (::access(QFile::encodeName(docroot.path() + "/music").constData(), R_OK) != 0) {
        EXPECT_EQ(get(browserGet("/music/")), kNotFound) << "(not as root)";
    }
    ::chmod(QFile::encodeName(docroot.path() + "/music").constData(), 0755);
}

TEST_F(BrowserNames, UploadsAreStoredUnderTheDecodedName) {
    serve(false);
    EXPECT_EQ(get("PUT /new%20note.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi"),
              page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("new note.txt"), "hi");
    EXPECT_EQ(get("PUT /%2E%2E/koru-put.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"),
              page(406, "Not Acceptable", "Cannot create such a file: /%2E%2E/koru-put.txt"));
    EXPECT_FALSE(QFile::exists(docroot.path() + "/../koru-put.txt"));
}
