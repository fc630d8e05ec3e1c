#include "server/Router.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

using namespace std::string_literals;
using route::Decision;
using route::Kind;

namespace {

struct Settings {
    std::string_view baseFile;
    std::string_view basePath;
};

constexpr Settings kSite{"index.html", "/srv/site/"};
constexpr Settings kNoBase{"index.html", ""};
constexpr Settings kNoBaseFile{"", "/srv/site/"};
constexpr Settings kBackslashBase{"index.html", "C:\\site\\"};

const std::string kSilent = "You doesn't say anything! Try again";
const std::string kUnsupported = "Request not supported";
const std::string kNotFound = "<h2>File not really found</h2>";
const std::string kCannotCreate = "Cannot create such a file: ";
const std::string kNoLength = "Content-Length required";

Decision File(std::string path, std::string fileName) {
    Decision d;
    d.kind = Kind::File;
    d.requestPath = std::move(path);
    d.fileName = std::move(fileName);
    return d;
}

// The same file target, also found by its decoded name.
Decision Decoded(Decision d, std::string decodedFileName) {
    d.decodedFileName = std::move(decodedFileName);
    return d;
}

// "/": the base file, and the base folder's own page.
Decision Start(Decision d) {
    d.defaultTarget = true;
    return d;
}

// A GET with a query whose name before the "?" may be served as a file when no module has it.
Decision Fallback(Decision d, std::string fileName, std::string decodedFileName = {}) {
    d.fileFallback = true;
    d.fileName = std::move(fileName);
    d.decodedFileName = std::move(decodedFileName);
    return d;
}

Decision Upload(std::string path, std::string fileName) {
    Decision d = File(std::move(path), std::move(fileName));
    d.kind = Kind::Upload;
    return d;
}

// `target` is the whole target as the error page names it; the decision keeps only its part
// before the first "?", the rest being the query.
Decision Module(const std::string& target, std::string module, std::string query) {
    Decision d;
    d.kind = Kind::Module;
    d.requestPath = target.substr(0, target.find('?'));
    d.module = std::move(module);
    d.query = std::move(query);
    return d;
}

Decision Error(int status, std::string message, std::string path = {}) {
    Decision d;
    d.kind = Kind::Error;
    d.requestPath = std::move(path);
    d.status = status;
    d.message = std::move(message);
    return d;
}

struct Row {
    const char* description;
    std::string request; // header, blank line, body
    Settings settings;
    std::optional<std::string> logLine;
    Decision expected; // its logLine is the row's
};

// Every field on one line, control bytes visible, so that a failing row shows what differs.
std::string Show(const Decision& d) {
    static const char* const kKinds[] = {"File", "Upload", "Module", "Error"};
    std::string text = kKinds[static_cast<int>(d.kind)];
    const auto add = [&text](const char* name, const std::string& value) {
        text += std::string(" ") + name + "=[";
        for (const char c : value) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7F) {
                static constexpr char kHex[] = "0123456789ABCDEF";
                text += "\\x";
                text += kHex[b >> 4];
                text += kHex[b & 15];
            } else {
                text += c;
            }
        }
        text += "]";
    };
    add("path", d.requestPath);
    add("file", d.fileName);
    add("decoded", d.decodedFileName);
    if (d.defaultTarget)
        text += " start";
    if (d.fileFallback)
        text += " fallback";
    add("module", d.module);
    add("query", d.query);
    add("status", std::to_string(d.status));
    add("message", d.message);
    if (d.logLine)
        add("log", *d.logLine);
    else
        text += " no-log";
    return text;
}

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.description;
}

class RouterTest : public ::testing::TestWithParam<Row> {};

} // namespace

TEST_P(RouterTest, DecidesAsTheWorker) {
    const Row& row = GetParam();
    const size_t blank = row.request.find("\r\n\r\n");
    ASSERT_NE(blank, std::string::npos) << row.description;
    const std::string_view request = row.request;
    route::Input input;
    input.header = request.substr(0, blank);
    input.body = request.substr(blank + 4);
    input.baseFile = row.settings.baseFile;
    input.basePath = row.settings.basePath;
    const Decision actual = route::Decide(input);
    Decision expected = row.expected;
    expected.logLine = row.logLine;
    EXPECT_EQ(Show(actual), Show(expected)) << row.description;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RouterTest,
    ::testing::Values(
        // The request line and the method.
        Row{"an empty header has no line", "\r\n\r\n", kSite, std::nullopt, Error(400, kSilent)},
        Row{"a NUL byte first ends the header", "\0GET /a.html HTTP/1.1\r\n\r\n"s, kSite,
            std::nullopt, Error(400, kSilent)},
        Row{"an empty first line is still a line", "\r\nHost: h\r\n\r\n", kSite, "",
            Error(501, kUnsupported)},
        Row{"lower-case method", "get /a.html HTTP/1.1\r\n\r\n", kSite, "get /a.html HTTP/1.1",
            Error(501, kUnsupported)},
        Row{"HEAD is not served", "HEAD /a.html HTTP/1.1\r\n\r\n", kSite, "HEAD /a.html HTTP/1.1",
            Error(501, kUnsupported)},
        Row{"a word that begins with GET is a GET", "GETX /a.html HTTP/1.1\r\n\r\n", kSite,
            "GETX /a.html HTTP/1.1", File("/a.html", "/srv/site//a.html")},
        Row{"GET without a version has no target", "GET /a.html\r\n\r\n", kSite, "GET /a.html",
            Error(501, kUnsupported)},
        Row{"version 2 has no target", "GET /a.html HTTP/2.0\r\n\r\n", kSite,
            "GET /a.html HTTP/2.0", Error(501, kUnsupported)},
        Row{"version text inside the target too", "GET /HTTP/1.1 HTTP/1.1\r\n\r\n", kSite,
            "GET /HTTP/1.1 HTTP/1.1", Error(501, kUnsupported)},
        Row{"HTTP/1.0", "GET /a.html HTTP/1.0\r\n\r\n", kSite, "GET /a.html HTTP/1.0",
            File("/a.html", "/srv/site//a.html")},
        Row{"HTTP/1.1 with fields", "GET /a.html HTTP/1.1\r\nHost: h\r\nAccept: */*\r\n\r\n", kSite,
            "GET /a.html HTTP/1.1", File("/a.html", "/srv/site//a.html")},
        Row{"the line ends at a bare LF", "GET /a.html HTTP/1.1\nHost: h\r\n\r\n", kSite,
            "GET /a.html HTTP/1.1", File("/a.html", "/srv/site//a.html")},
        Row{"a NUL byte inside the line cuts it", "GET /a.html\0 HTTP/1.1\r\n\r\n"s, kSite,
            "GET /a.html", Error(501, kUnsupported)},
        Row{"control bytes are logged as they came and served", "GET /a\x1b[2J HTTP/1.1\r\n\r\n",
            kSite, "GET /a\x1b[2J HTTP/1.1", File("/a\x1b[2J", "/srv/site//a\x1b[2J")},
        Row{"blanks around the target go, inner ones stay", "GET   /a b.html \t HTTP/1.1\r\n\r\n",
            kSite, "GET   /a b.html \t HTTP/1.1", File("/a b.html", "/srv/site//a b.html")},

        // GET of a file.
        Row{"/ is the base file", "GET / HTTP/1.1\r\n\r\n", kSite, "GET / HTTP/1.1",
            Start(File("index.html", "/srv/site/index.html"))},
        Row{"/ without a base folder", "GET / HTTP/1.1\r\n\r\n", kNoBase, "GET / HTTP/1.1",
            Error(404, kNotFound, "index.html")},
        Row{"/ with an empty base file", "GET / HTTP/1.1\r\n\r\n", kNoBaseFile, "GET / HTTP/1.1",
            Error(501, kUnsupported)},
        Row{"no base folder serves nothing", "GET /a.html HTTP/1.1\r\n\r\n", kNoBase,
            "GET /a.html HTTP/1.1", Error(404, kNotFound, "/a.html")},
        Row{"a .. segment between slashes", "GET /a/../b HTTP/1.1\r\n\r\n", kSite,
            "GET /a/../b HTTP/1.1", Error(404, kNotFound, "/a/../b")},
        Row{"a .. segment before a backslash", "GET /..\\x HTTP/1.1\r\n\r\n", kSite,
            "GET /..\\x HTTP/1.1", Error(404, kNotFound, "/..\\x")},
        Row{"a .. segment at the end", "GET /a/.. HTTP/1.1\r\n\r\n", kSite, "GET /a/.. HTTP/1.1",
            Error(404, kNotFound, "/a/..")},
        Row{"dots that are names", "GET /a..b/.../c HTTP/1.1\r\n\r\n", kSite,
            "GET /a..b/.../c HTTP/1.1", File("/a..b/.../c", "/srv/site//a..b/.../c")},
        Row{"a backslash is a folder step in the file name", "GET /a\\b.html HTTP/1.1\r\n\r\n",
            kSite, "GET /a\\b.html HTTP/1.1", File("/a\\b.html", "/srv/site//a/b.html")},
        Row{"backslashes of the base folder are turned too", "GET /a.html HTTP/1.1\r\n\r\n",
            kBackslashBase, "GET /a.html HTTP/1.1", File("/a.html", "C:/site//a.html")},
        Row{"a target without its leading slash", "GET a.html HTTP/1.1\r\n\r\n", kSite,
            "GET a.html HTTP/1.1", File("a.html", "/srv/site/a.html")},
        Row{"Transfer-Encoding does not matter to a GET",
            "GET /a.html HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", kSite,
            "GET /a.html HTTP/1.1", File("/a.html", "/srv/site//a.html")},

        // GET of a module.
        Row{"a ? runs a module", "GET /shop?item=1 HTTP/1.1\r\n\r\n", kSite,
            "GET /shop?item=1 HTTP/1.1",
            Fallback(Module("/shop?item=1", "shop", "item=1"), "/srv/site//shop")},
        Row{"the first ? splits", "GET /shop?a=1?b=2 HTTP/1.1\r\n\r\n", kSite,
            "GET /shop?a=1?b=2 HTTP/1.1",
            Fallback(Module("/shop?a=1?b=2", "shop", "a=1?b=2"), "/srv/site//shop")},
        Row{"a ? at the start of the target", "GET ?a=1 HTTP/1.1\r\n\r\n", kSite,
            "GET ?a=1 HTTP/1.1", Module("?a=1", "", "a=1")},
        Row{"a ? right after /", "GET /?a=1 HTTP/1.1\r\n\r\n", kSite, "GET /?a=1 HTTP/1.1",
            Start(Fallback(Module("/?a=1", "", "a=1"), "/srv/site/index.html"))},
        Row{"a ? with nothing after it", "GET /shop? HTTP/1.1\r\n\r\n", kSite,
            "GET /shop? HTTP/1.1", Fallback(Module("/shop?", "shop", ""), "/srv/site//shop")},
        Row{"the first character goes, whatever it is", "GET shop?a HTTP/1.1\r\n\r\n", kSite,
            "GET shop?a HTTP/1.1", Fallback(Module("shop?a", "hop", "a"), "/srv/site/shop")},
        Row{"a module in a folder", "GET /tools/shop?x HTTP/1.1\r\n\r\n", kSite,
            "GET /tools/shop?x HTTP/1.1",
            Fallback(Module("/tools/shop?x", "tools/shop", "x"), "/srv/site//tools/shop")},
        Row{"modules run without a base folder", "GET /shop?x HTTP/1.1\r\n\r\n", kNoBase,
            "GET /shop?x HTTP/1.1", Module("/shop?x", "shop", "x")},
        Row{"a .. in a module target is not looked at", "GET /../shop?x HTTP/1.1\r\n\r\n", kSite,
            "GET /../shop?x HTTP/1.1", Module("/../shop?x", "../shop", "x")},

        Row{"a query on a name with escapes", "GET /a%20b.jpg?fbclid=1 HTTP/1.1\r\n\r\n", kSite,
            "GET /a%20b.jpg?fbclid=1 HTTP/1.1",
            Fallback(Module("/a%20b.jpg?fbclid=1", "a%20b.jpg", "fbclid=1"), "/srv/site//a%20b.jpg",
                     "/srv/site//a b.jpg")},
        Row{"no file stands in for a module whose name leaves the base",
            "GET /%2e%2e/shop?x HTTP/1.1\r\n\r\n", kSite, "GET /%2e%2e/shop?x HTTP/1.1",
            Module("/%2e%2e/shop?x", "%2e%2e/shop", "x")},

        // Names as browsers send them: tried as received first, then decoded; the decoded name
        // is held to the same rules as the raw one.
        Row{"a blank", "GET /holiday%20photo.jpg HTTP/1.1\r\n\r\n", kSite,
            "GET /holiday%20photo.jpg HTTP/1.1",
            Decoded(File("/holiday%20photo.jpg", "/srv/site//holiday%20photo.jpg"),
                    "/srv/site//holiday photo.jpg")},
        Row{"accents in either case of hex digit", "GET /R%C3%a9sum%c3%A9.pdf HTTP/1.1\r\n\r\n",
            kSite, "GET /R%C3%a9sum%c3%A9.pdf HTTP/1.1",
            Decoded(File("/R%C3%a9sum%c3%A9.pdf", "/srv/site//R%C3%a9sum%c3%A9.pdf"),
                    "/srv/site//R\xC3\xA9sum\xC3\xA9.pdf")},
        Row{"a % without two hex digits stays", "GET /100%25%/a%2/b%zz HTTP/1.1\r\n\r\n", kSite,
            "GET /100%25%/a%2/b%zz HTTP/1.1",
            Decoded(File("/100%25%/a%2/b%zz", "/srv/site//100%25%/a%2/b%zz"),
                    "/srv/site//100%%/a%2/b%zz")},
        Row{"a decoded % is not decoded again", "GET /a%2541 HTTP/1.1\r\n\r\n", kSite,
            "GET /a%2541 HTTP/1.1",
            Decoded(File("/a%2541", "/srv/site//a%2541"), "/srv/site//a%41")},
        Row{"a decoded slash and backslash are folder steps", "GET /a%2Fb%5Cc HTTP/1.1\r\n\r\n",
            kSite, "GET /a%2Fb%5Cc HTTP/1.1",
            Decoded(File("/a%2Fb%5Cc", "/srv/site//a%2Fb%5Cc"), "/srv/site//a/b/c")},
        Row{"a decoded .. segment", "GET /%2e%2e/etc/passwd HTTP/1.1\r\n\r\n", kSite,
            "GET /%2e%2e/etc/passwd HTTP/1.1", Error(404, kNotFound, "/%2e%2e/etc/passwd")},
        Row{"a decoded .. before a decoded backslash", "GET /a/%2E.%5Cx HTTP/1.1\r\n\r\n", kSite,
            "GET /a/%2E.%5Cx HTTP/1.1", Error(404, kNotFound, "/a/%2E.%5Cx")},
        Row{"a decoded NUL", "GET /a%00.html HTTP/1.1\r\n\r\n", kSite, "GET /a%00.html HTTP/1.1",
            Error(404, kNotFound, "/a%00.html")},
        Row{"a decoded control byte", "GET /a%1b[2J HTTP/1.1\r\n\r\n", kSite,
            "GET /a%1b[2J HTTP/1.1", Error(404, kNotFound, "/a%1b[2J")},

        // POST: always a module, the body its query.
        Row{"the body follows a ?", "POST /shop HTTP/1.1\r\nContent-Length: 6\r\n\r\nitem=1", kSite,
            "POST /shop HTTP/1.1", Module("/shop?item=1", "shop", "item=1")},
        Row{"no body", "POST /shop HTTP/1.1\r\n\r\n", kSite, "POST /shop HTTP/1.1",
            Module("/shop?", "shop", "")},
        Row{"a target with a query gets a second ?", "POST /shop?x=1 HTTP/1.1\r\n\r\ny=2", kSite,
            "POST /shop?x=1 HTTP/1.1", Module("/shop?x=1?y=2", "shop", "x=1?y=2")},
        Row{"the whole body, blank lines and control bytes included",
            "POST /shop HTTP/1.1\r\n\r\na\r\n\r\nb\x01", kSite, "POST /shop HTTP/1.1",
            Module("/shop?a\r\n\r\nb\x01", "shop", "a\r\n\r\nb\x01")},
        Row{"/ is the base file, its first letter dropped", "POST / HTTP/1.1\r\n\r\na=1", kSite,
            "POST / HTTP/1.1", Module("index.html?a=1", "ndex.html", "a=1")},
        Row{"/ with an empty base file", "POST / HTTP/1.1\r\n\r\na=1", kNoBaseFile,
            "POST / HTTP/1.1", Module("?a=1", "", "a=1")},
        Row{"without a version the target is the body alone", "POST /shop\r\n\r\na=1", kSite,
            "POST /shop", Module("?a=1", "", "a=1")},
        Row{"no base folder", "POST /shop HTTP/1.1\r\n\r\na=1", kNoBase, "POST /shop HTTP/1.1",
            Module("/shop?a=1", "shop", "a=1")},

        // PUT: an upload, or a refusal that needs no look at the disk.
        Row{"a new file", "PUT /new.txt HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", kSite,
            "PUT /new.txt HTTP/1.1", Upload("/new.txt", "/srv/site//new.txt")},
        Row{"/ is the base file", "PUT / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", kSite,
            "PUT / HTTP/1.1", Upload("index.html", "/srv/site/index.html")},
        Row{"a ? belongs to the name", "PUT /a?b HTTP/1.1\r\nContent-length:0\r\n\r\n", kSite,
            "PUT /a?b HTTP/1.1", Upload("/a?b", "/srv/site//a?b")},
        Row{"stored under the decoded name",
            "PUT /my%20file.txt HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kSite,
            "PUT /my%20file.txt HTTP/1.1", Upload("/my%20file.txt", "/srv/site//my file.txt")},
        Row{"a decoded .. segment in an upload",
            "PUT /%2E%2E/x HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kSite, "PUT /%2E%2E/x HTTP/1.1",
            Error(406, kCannotCreate + "/%2E%2E/x", "/%2E%2E/x")},
        Row{"a decoded .. before a decoded backslash in an upload",
            "PUT /..%5cx HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kSite, "PUT /..%5cx HTTP/1.1",
            Error(406, kCannotCreate + "/..%5cx", "/..%5cx")},
        Row{"a decoded NUL or control byte in an upload",
            "PUT /a%00b%01 HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kSite, "PUT /a%00b%01 HTTP/1.1",
            Error(406, kCannotCreate + "/a%00b%01", "/a%00b%01")},
        Row{"a backslash is a folder step", "PUT /d\\n.txt HTTP/1.1\r\nCONTENT-LENGTH: 0\r\n\r\n",
            kSite, "PUT /d\\n.txt HTTP/1.1", Upload("/d\\n.txt", "/srv/site//d/n.txt")},
        // An empty target names the base folder itself, which no upload can create.
        Row{"without a version the base folder itself",
            "PUT /new.txt\r\nContent-Length: 5\r\n\r\nhello", kSite, "PUT /new.txt",
            Error(406, kCannotCreate)},
        Row{"an unknown version is no version", "PUT /x HTTP/2.0\r\nContent-Length: 1\r\n\r\nx",
            kSite, "PUT /x HTTP/2.0", Error(406, kCannotCreate)},
        Row{"/ with an empty base file names the base folder", "PUT / HTTP/1.1\r\n\r\n",
            kNoBaseFile, "PUT / HTTP/1.1", Error(406, kCannotCreate)},
        // Without a length a body's end cannot be told from a client that stopped sending.
        Row{"no Content-Length", "PUT /new.txt HTTP/1.1\r\n\r\nhello", kSite,
            "PUT /new.txt HTTP/1.1", Error(411, kNoLength, "/new.txt")},
        Row{"a length only in another field", "PUT /n HTTP/1.1\r\nX-Content-Length: 5\r\n\r\nhello",
            kSite, "PUT /n HTTP/1.1", Error(411, kNoLength, "/n")},
        Row{"no base folder", "PUT /new.txt HTTP/1.1\r\n\r\n", kNoBase, "PUT /new.txt HTTP/1.1",
            Error(406, kCannotCreate + "/new.txt", "/new.txt")},
        Row{"no base folder and no target", "PUT /new.txt\r\n\r\n", kNoBase, "PUT /new.txt",
            Error(406, kCannotCreate)},
        Row{"a .. segment", "PUT /../x HTTP/1.1\r\n\r\n", kSite, "PUT /../x HTTP/1.1",
            Error(406, kCannotCreate + "/../x", "/../x")},
        Row{"a .. segment before a backslash", "PUT /..\\x HTTP/1.1\r\n\r\n", kSite,
            "PUT /..\\x HTTP/1.1", Error(406, kCannotCreate + "/..\\x", "/..\\x")},
        Row{"the refused name is no markup", "PUT /../<b>&\" HTTP/1.1\r\n\r\n", kSite,
            "PUT /../<b>&\" HTTP/1.1",
            Error(406, kCannotCreate + "/../&lt;b&gt;&amp;&quot;", "/../<b>&\"")},
        Row{"a control byte",
            "PUT /a\x01"
            "b HTTP/1.1\r\n\r\n",
            kSite,
            "PUT /a\x01"
            "b HTTP/1.1",
            Error(406,
                  kCannotCreate + "/a\x01"
                                  "b",
                  "/a\x01"
                  "b")},
        Row{"control bytes at the end of the target are trimmed, not refused",
            "PUT /a\x02 HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kSite, "PUT /a\x02 HTTP/1.1",
            Upload("/a", "/srv/site//a")},
        Row{"a TAB inside the name", "PUT /a\tb HTTP/1.1\r\n\r\n", kSite, "PUT /a\tb HTTP/1.1",
            Error(406, kCannotCreate + "/a\tb", "/a\tb")},
        Row{"DEL inside the name", "PUT /a\x7f HTTP/1.1\r\n\r\n", kSite, "PUT /a\x7f HTTP/1.1",
            Error(406, kCannotCreate + "/a\x7f", "/a\x7f")},
        Row{"Transfer-Encoding", "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
            kSite, "PUT /new.txt HTTP/1.1", Error(411, kNoLength, "/new.txt")},
        Row{"transfer-encoding in lower case",
            "PUT /new.txt HTTP/1.1\r\nHost: h\r\ntransfer-encoding: chunked\r\n\r\n", kSite,
            "PUT /new.txt HTTP/1.1", Error(411, kNoLength, "/new.txt")},
        Row{"no target is refused before Transfer-Encoding",
            "PUT /new.txt\r\nTransfer-Encoding: x\r\n\r\n", kSite, "PUT /new.txt",
            Error(406, kCannotCreate)},
        Row{"a field that only ends in Transfer-Encoding",
            "PUT /new.txt HTTP/1.1\r\nX-Transfer-Encoding: chunked\r\nContent-Length: 0\r\n\r\n",
            kSite, "PUT /new.txt HTTP/1.1", Upload("/new.txt", "/srv/site//new.txt")},
        Row{"Transfer-Encoding in the body is no field",
            "PUT /new.txt HTTP/1.1\r\nContent-Length: 28\r\n\r\nTransfer-Encoding: chunked\r\n",
            kSite, "PUT /new.txt HTTP/1.1", Upload("/new.txt", "/srv/site//new.txt")},
        Row{"an escaping name is refused before the missing length",
            "PUT /../x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", kSite, "PUT /../x HTTP/1.1",
            Error(406, kCannotCreate + "/../x", "/../x")},
        Row{"a missing base folder is refused before the missing length",
            "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", kNoBase,
            "PUT /new.txt HTTP/1.1", Error(406, kCannotCreate + "/new.txt", "/new.txt")},
        Row{"a control byte is refused before the missing length",
            "PUT /a\x02"
            "b HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
            kSite,
            "PUT /a\x02"
            "b HTTP/1.1",
            Error(406,
                  kCannotCreate + "/a\x02"
                                  "b",
                  "/a\x02"
                  "b")}));
