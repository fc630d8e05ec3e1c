#include "server/Reply.h"

#include <gtest/gtest.h>

using namespace reply;

TEST(Reply, StatusLinesAndReasons) {
    const std::pair<int32_t, const char*> known[] = {
        {200, "OK"}, {416, "Requested range not satisfiable"}, {505, "HTTP Version not supported"}};
    for (const auto& [code, reason] : known)
        EXPECT_EQ(StatusLine(code), "HTTP/1.0 " + std::to_string(code) + " " + reason + "\r\n");
    for (const int32_t code : {306, 299, 0, -404})
        EXPECT_EQ(StatusLine(code), "HTTP/1.0 " + std::to_string(code) + " Unknown status\r\n");
}

TEST(Reply, TheStatusAReplyBeginsWith) {
    const std::pair<std::string_view, int32_t> rows[] = {{"HTTP/1.0 404 Not Found\r\n", 404},
                                                         {"HTTP/1.1 206 x", 206},
                                                         {"HTTP/1.0 200", 200},
                                                         {"HTTP/1.0 20", 0},
                                                         {"HTTP/1.0 2x0 OK", 0},
                                                         {"HTTP/2 200 OK", 0},
                                                         {"<html>", 0},
                                                         {"", 0},
                                                         {"HTTP/1.0200 OK", 0}};
    for (const auto& [text, status] : rows)
        EXPECT_EQ(StatusOf(text), status) << text;
    EXPECT_EQ(StatusOf(PageReply(413, "x")), 413);
}

TEST(Reply, PageRepliesByteForByte) {
    EXPECT_EQ(PageReply(400, "You doesn't say anything! Try again"),
              "HTTP/1.0 400 Bad Request\r\nContent-Type: text/html\r\nContent-Length: 57\r\n"
              "Content:\r\n\r\n<HTML><h2>You doesn't say anything! Try again</h2></HTML>");
    EXPECT_NE(PageReply(501, "Request not supported").find("Content-Length: 43\r\n"),
              std::string::npos);
    EXPECT_NE(PageReply(404, "<h2>File not really found</h2>")
                  .find("Content-Length: 52\r\nContent:\r\n\r\n<HTML><h2><h2>File"),
              std::string::npos);
    EXPECT_NE(PageReply(200, "File saved").find("Content-Length: 32\r\n"), std::string::npos);
    EXPECT_EQ(PageReply(200, "x").find("Server:"), std::string::npos);
}

TEST(Reply, ContentTypeDefaults) {
    EXPECT_EQ(DefaultContentType(""), "binary/data");
    EXPECT_EQ(DefaultContentType(" \t\r"), "binary/data");
    EXPECT_EQ(DefaultContentType(" text/html "), " text/html ");
}

TEST(Reply, FileHeader) {
    EXPECT_EQ(FileHeader("image/gif", 10000),
              "Server: Mirelton/0.3\r\nContent-Type: image/gif\r\nContent-Length: 10000\r\n\r\n");
    EXPECT_EQ(FileHeader("binary/data", 0),
              "Server: Mirelton/0.3\r\nContent-Type: binary/data\r\nContent-Length: 0\r\n\r\n");
}

TEST(Reply, PluginReplyAddsTypeLineUnlessOneIsThere) {
    struct Case {
        int32_t status;
        const char* header;
        const char* page;
        const char* reply;
    };
    const Case cases[] = {
        {200, "", "<p>Hi</p>",
         "HTTP/1.0 200 OK\r\nContent-type: text/html\r\nContent-Length: 9\r\nContent:\r\n\r\n"
         "<p>Hi</p>"},
        {302, "Location: /x\r\n", "",
         "HTTP/1.0 302 Found\r\nLocation: /x\r\nContent-type: text/html\r\nContent-Length: "
         "0\r\nContent:\r\n\r\n"},
        {200, "content-type: text/plain\r\n", "a",
         "HTTP/1.0 200 OK\r\ncontent-type: text/plain\r\nContent-Length: 1\r\nContent:\r\n"
         "\r\na"},
        // Without the space after the colon it is not taken for a type line.
        {200, "Content-Type:text/plain\r\n", "a",
         "HTTP/1.0 200 OK\r\nContent-Type:text/plain\r\nContent-type: text/html\r\n"
         "Content-Length: 1\r\nContent:\r\n\r\na"}};
    for (const Case& c : cases)
        EXPECT_EQ(PluginReply(c.status, c.header, c.page), c.reply) << c.header;
}

TEST(Reply, TextFromARequestIsEscapedForAPage) {
    EXPECT_EQ(EscapeHtml("/<img src=x onerror=\"a&b\">"),
              "/&lt;img src=x onerror=&quot;a&amp;b&quot;&gt;");
    EXPECT_EQ(EscapeHtml("/plain/name.txt?x=1'"), "/plain/name.txt?x=1'");
}
