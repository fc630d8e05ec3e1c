// Byte ranges through a real server: the bytes of a 206 reply are exactly the file's slice, a
// range past the end gets the 416 page, and a range the server does not serve leaves today's
// reply untouched, byte for byte.
#include "ServerFixture.h"

namespace {

constexpr int kFileSize = 200001; // several read blocks, not a multiple of a chunk

class Range : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        content = QByteArray(kFileSize, Qt::Uninitialized);
        for (int i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>((i * 31) ^ (i >> 12));
        writeFile("data.bin", content);
        portNumber = start();
    }

    std::string withRange(const std::string& range, const std::string& target = "/data.bin") {
        return get("GET " + target + " HTTP/1.0\r\nHost: x\r\nRange: " + range + "\r\n\r\n");
    }

    std::string whole() const {
        return "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: application/octet-stream"
               "\r\nContent-Length: " +
               std::to_string(kFileSize) + "\r\n\r\n" + content.toStdString();
    }

    std::string partial(int64_t first, int64_t last) const {
        return "HTTP/1.0 206 Partial Content\r\nServer: Mirelton/0.3\r\nContent-Type: "
               "application/octet-stream\r\nContent-Length: " +
               std::to_string(last - first + 1) + "\r\nContent-Range: bytes " +
               std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(kFileSize) + "\r\n\r\n" +
               content.mid(first, last - first + 1).toStdString();
    }

    QByteArray content;
};

} // namespace

TEST_F(Range, APartialReplyIsExactlyTheSlice) {
    const int64_t last = kFileSize - 1;
    struct Case {
        const char* range;
        int64_t first;
        int64_t last;
    };
    for (const Case& c :
         {Case{"bytes=0-0", 0, 0}, Case{"bytes=0-99", 0, 99},
          Case{"bytes=65535-65537", 65535, 65537}, Case{"bytes=4000-140000", 4000, 140000},
          Case{"bytes=199999-", 199999, last}, Case{"bytes=100-999999999", 100, last},
          Case{"bytes=-1", last, last}, Case{"bytes=-70000", kFileSize - 70000, last},
          Case{"bytes=-300000", 0, last}, Case{"BYTES=1-2", 1, 2}})
        EXPECT_EQ(withRange(c.range), partial(c.first, c.last)) << c.range;
    EXPECT_EQ(get("GET /data.bin HTTP/1.0\r\nrange:bytes=7-8\r\n\r\n"), partial(7, 8));
}

TEST_F(Range, ARangePastTheEndGetsTheUnsatisfiablePage) {
    writeFile("empty.txt", "");
    for (const auto& [range, target, size] :
         {std::tuple{"bytes=200001-", "/data.bin", "200001"},
          std::tuple{"bytes=300000-300010", "/data.bin", "200001"},
          std::tuple{"bytes=-0", "/data.bin", "200001"}, std::tuple{"bytes=0-", "/empty.txt", "0"},
          std::tuple{"bytes=-5", "/empty.txt", "0"}}) {
        const std::string reply = withRange(range, target);
        EXPECT_TRUE(reply.starts_with("HTTP/1.0 416 Requested range not satisfiable\r\n"
                                      "Content-Range: bytes */" +
                                      std::string(size) + "\r\nContent-Type: text/html"))
            << range << " " << reply.substr(0, 200);
        const size_t body = reply.find("\r\n\r\n");
        ASSERT_NE(body, std::string::npos);
        const std::string length = "Content-Length: " + std::to_string(reply.size() - body - 4);
        EXPECT_NE(reply.substr(0, body).find(length), std::string::npos) << range;
        EXPECT_NE(reply.find("<title>Requested range not satisfiable</title>"), std::string::npos);
    }
}

// A range the server does not serve is no reason to refuse the file: the reply is the one the
// request gets without it.
TEST_F(Range, ARangeThatIsNotServedLeavesTodaysReply) {
    for (const char* range :
         {"bytes=1-2,5-6", "bytes=0-0,-1", "bytes=9-3", "items=0-5", "bytes 0-5", "bytes=a-b",
          "bytes=", "", "bytes=99999999999999999999-", "bytes=0-99999999999999999999"})
        EXPECT_EQ(withRange(range), whole()) << range;
    EXPECT_EQ(get("GET /data.bin HTTP/1.0\r\nX-Range: bytes=0-5\r\n\r\n"), whole());
    EXPECT_EQ(get("GET /data.bin HTTP/1.0\r\nRange: bytes=0-5\r\nIf-Range: \"v1\"\r\n\r\n"),
              whole());
    writeFile("empty.txt", "");
    EXPECT_EQ(withRange("bytes=1-2,3-4", "/empty.txt"),
              "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: text/plain\r\n"
              "Content-Length: 0\r\n\r\n");
}

// Files only: an upload, a module and a missing file answer as they would without the field.
TEST_F(Range, OnlyFileRepliesTakeARange) {
    EXPECT_EQ(get("PUT /up.txt HTTP/1.0\r\nRange: bytes=1-2\r\nContent-Length: 5\r\n\r\nhello"),
              page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("up.txt"), "hello");
    EXPECT_EQ(withRange("bytes=0-1", "/nosuch?x"),
              page(500, "Internal Server Error", "Cannot create temporary file. CGI fail."));
    EXPECT_EQ(withRange("bytes=0-1", "/missing.bin"),
              page(404, "Not Found", "<h2>File not really found</h2>"));
}

TEST_F(Range, APartGoesOutInChunksOf4096) {
    const ChunkLog chunks(context);
    EXPECT_EQ(withRange("bytes=3-10002"), partial(3, 10002));
    EXPECT_EQ(chunks.sizes(), (std::vector<size_t>{4096, 4096, 1808}));
}

TEST_F(Range, AFileThatShrinksUnderARangeEndsWithoutStaleBytes) {
    const QString path = docroot.path() + "/data.bin";
    context.afterChunkSent = [&](size_t) { QFile::resize(path, 80000); };
    const std::string reply = withRange("bytes=10000-");
    const std::string header = "HTTP/1.0 206 Partial Content\r\nServer: Mirelton/0.3\r\n"
                               "Content-Type: application/octet-stream\r\nContent-Length: 190001"
                               "\r\nContent-Range: bytes 10000-200000/200001\r\n\r\n";
    ASSERT_EQ(reply.substr(0, header.size()), header);
    // Whole chunks of what the file held when they were read, then the connection closes.
    const std::string body = reply.substr(header.size());
    EXPECT_GE(body.size(), 4096u);
    EXPECT_LE(body.size(), 80000u - 10000u);
    EXPECT_EQ(body.size() % 4096, 0u);
    EXPECT_EQ(body, content.mid(10000, static_cast<qsizetype>(body.size())).toStdString());
}
