// A file reply on a connection of the test's own: what each hand-over carries, when the delivery
// waits, and how a file that shrinks or a connection that goes ends it.
#include "server/Delivery.h"
#include "server/WebPage.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using ::testing::Each;
using ::testing::ElementsAre;

namespace {

constexpr size_t kBlock = delivery::kBlockSize;

// Records the size of every hand-over and the bytes, with "drain" and "close" between them.
class RecordingConnection : public delivery::Connection {
public:
    bool Write(const char* data, size_t size) override {
        steps.push_back("write " + std::to_string(size));
        bytes.append(data, size);
        return writesLeft-- > 0;
    }
    bool Drain() override {
        steps.push_back("drain");
        return drains;
    }
    void Close() override { steps.push_back("close"); }

    std::vector<std::string> steps;
    std::string bytes;
    int writesLeft = 1000;
    bool drains = true;
};

class Delivery : public ::testing::Test {
protected:
    // A file of `size` bytes, each telling its position, open for reading.
    int file(size_t size) {
        content.resize(size);
        for (size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
        name = dir.filePath("f.bin").toStdString();
        const int out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(::write(out, content.data(), size), static_cast<ssize_t>(size));
        ::close(out);
        fd = ::open(name.c_str(), O_RDONLY);
        return fd;
    }
    void TearDown() override {
        if (fd >= 0)
            ::close(fd);
    }

    QTemporaryDir dir;
    std::string name;
    std::string content;
    int fd = -1;
    RecordingConnection connection;
    std::vector<size_t> chunks;
    const std::function<void(size_t)> countChunks = [this](size_t n) { chunks.push_back(n); };
};

} // namespace

TEST_F(Delivery, TheHeaderRidesWithTheFirstBlockAndBlocksWaitOnlyBetweenThem) {
    const size_t size = 2 * kBlock + 5000;
    EXPECT_EQ(delivery::SendFile(connection, "HEAD", file(size), size, countChunks),
              static_cast<int64_t>(size));
    EXPECT_THAT(connection.steps,
                ElementsAre("write " + std::to_string(4 + kBlock), "drain",
                            "write " + std::to_string(kBlock), "drain", "write 5000"));
    EXPECT_EQ(connection.bytes, "HEAD" + content);
    ASSERT_EQ(chunks.size(), 2 * delivery::kChunksPerBlock + 2);
    EXPECT_EQ(chunks[chunks.size() - 2], 4096u);
    EXPECT_EQ(chunks.back(), 5000u - 4096u);
}

TEST_F(Delivery, ASmallOrEmptyFileIsOneHandOver) {
    EXPECT_EQ(delivery::SendFile(connection, "H", file(1000), 1000, countChunks), 1000);
    EXPECT_THAT(connection.steps, ElementsAre("write 1001"));
    EXPECT_THAT(chunks, ElementsAre(1000u));

    RecordingConnection empty;
    ::close(fd);
    EXPECT_EQ(delivery::SendFile(empty, "H", file(0), 0), 0);
    EXPECT_THAT(empty.steps, ElementsAre("write 1"));
}

// The reply announced a length; what is sent of a file that shrank is whole chunks as they were
// read, then the close, never bytes that were not in the file.
TEST_F(Delivery, AFileThatShrinksEndsAfterItsLastWholeChunk) {
    const size_t size = 3 * kBlock;
    file(size);
    const std::function<void(size_t)> shrink = [this](size_t) {
        ASSERT_EQ(::truncate(name.c_str(), kBlock + 5000), 0);
    };
    EXPECT_EQ(delivery::SendFile(connection, "", fd, size, shrink), kBlock + 4096);
    EXPECT_THAT(connection.steps,
                ElementsAre("write " + std::to_string(kBlock), "drain", "write 4096", "close"));
    EXPECT_EQ(connection.bytes, content.substr(0, kBlock + 4096));

    RecordingConnection emptied;
    ASSERT_EQ(::truncate(name.c_str(), 100), 0);
    EXPECT_EQ(delivery::SendFile(emptied, "HEAD", fd, size), 0);
    EXPECT_THAT(emptied.steps, ElementsAre("write 4", "close")) << "the header alone, then closed";
}

TEST_F(Delivery, AConnectionThatGoesEndsTheDelivery) {
    const size_t size = 4 * kBlock;
    connection.writesLeft = 1;
    EXPECT_EQ(delivery::SendFile(connection, "", file(size), size, countChunks), kBlock)
        << "only the bytes handed over before the failed hand-over count";
    EXPECT_EQ(connection.steps.size(), 3u);

    RecordingConnection stalled;
    stalled.drains = false;
    EXPECT_EQ(delivery::SendFile(stalled, "", fd, size), kBlock);
    EXPECT_THAT(stalled.steps, ElementsAre("write " + std::to_string(kBlock), "drain"));
    EXPECT_THAT(chunks, Each(4096u));
}

// From an offset the body is the file's slice, in the same blocks and chunks as from its start:
// the offset never shifts where a block or a chunk ends.
TEST_F(Delivery, FromAnOffsetTheBodyIsThatSliceInTheSameBlocks) {
    const size_t size = 3 * kBlock + 100;
    file(size);
    struct Case {
        int64_t start;
        int64_t length;
        std::vector<std::string> steps;
    };
    const std::string block = "write " + std::to_string(kBlock);
    for (const Case& c : std::vector<Case>{
             {1, 1, {"write 3"}},
             {kBlock - 1, 2, {"write 4"}},
             {4095, kBlock + 10, {"write " + std::to_string(kBlock + 2), "drain", "write 10"}},
             {static_cast<int64_t>(size) - 100, 100, {"write 102"}},
             {7,
              static_cast<int64_t>(size) - 7,
              {"write " + std::to_string(kBlock + 2), "drain", block, "drain", block, "drain",
               "write 93"}},
             {static_cast<int64_t>(size), 0, {"write 2"}},
         }) {
        RecordingConnection out;
        chunks.clear();
        EXPECT_EQ(delivery::SendFile(out, "HH", fd, c.start, c.length, countChunks), c.length)
            << c.start;
        EXPECT_EQ(out.steps, c.steps) << c.start;
        EXPECT_EQ(out.bytes, "HH" + content.substr(c.start, c.length)) << c.start;
        size_t counted = 0;
        for (const size_t n : chunks) {
            EXPECT_LE(n, delivery::kChunkSize);
            counted += n;
        }
        EXPECT_EQ(counted, static_cast<size_t>(c.length)) << c.start;
    }
}

// A file that shrinks under a range: whole chunks of the slice as they were read, then the
// close; a file that no longer reaches the range's start sends the header alone.
TEST_F(Delivery, AFileThatShrinksUnderARangeEndsAfterItsLastWholeChunk) {
    const size_t size = 3 * kBlock;
    file(size);
    const int64_t start = 1000;
    const std::function<void(size_t)> shrink = [this](size_t) {
        ASSERT_EQ(::truncate(name.c_str(), start + kBlock + 5000), 0);
    };
    EXPECT_EQ(delivery::SendFile(connection, "", fd, start, size - start, shrink), kBlock + 4096);
    EXPECT_THAT(connection.steps,
                ElementsAre("write " + std::to_string(kBlock), "drain", "write 4096", "close"));
    EXPECT_EQ(connection.bytes, content.substr(start, kBlock + 4096));

    RecordingConnection beyond;
    ASSERT_EQ(::truncate(name.c_str(), 500), 0);
    EXPECT_EQ(delivery::SendFile(beyond, "HEAD", fd, start, 10, {}), 0);
    EXPECT_THAT(beyond.steps, ElementsAre("write 4", "close"));
}

// The head a range gives: the file reply's lines with the part's length and its Content-Range, or
// the 416 page naming the size; no range, or one that cannot be served, gives today's 200.
TEST(OpenForReply, ARangeMakesThePartialOrTheUnsatisfiableHead) {
    QTemporaryDir folder;
    const std::string name = folder.path().toStdString() + "/f.txt";
    const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::write(fd, "0123456789", 10), 10);
    ::close(fd);
    const auto type = [] { return std::string("text/plain"); };
    const std::string lines = "Server: Mirelton/0.3\r\nContent-Type: text/plain\r\n";
    struct Case {
        const char* header;
        int status;
        int64_t start;
        int64_t size;
        std::string head;
    };
    for (const Case& c : std::vector<Case>{
             {"", 200, 0, 10, "HTTP/1.0 200 OK\r\n" + lines + "Content-Length: 10\r\n\r\n"},
             {"GET /f.txt HTTP/1.0\r\nRange: bytes=1-2,5-6", 200, 0, 10,
              "HTTP/1.0 200 OK\r\n" + lines + "Content-Length: 10\r\n\r\n"},
             {"GET /f.txt HTTP/1.0\r\nRange: bytes=3-", 206, 3, 7,
              "HTTP/1.0 206 Partial Content\r\n" + lines +
                  "Content-Length: 7\r\nContent-Range: bytes 3-9/10\r\n\r\n"},
             {"GET /f.txt HTTP/1.0\r\nRange: bytes=-20", 206, 0, 10,
              "HTTP/1.0 206 Partial Content\r\n" + lines +
                  "Content-Length: 10\r\nContent-Range: bytes 0-9/10\r\n\r\n"},
         }) {
        const delivery::FileReply opened = delivery::OpenForReply(name, type, c.header);
        ASSERT_TRUE(opened.file.valid()) << c.header;
        EXPECT_EQ(opened.status, c.status) << c.header;
        EXPECT_EQ(opened.start, c.start) << c.header;
        EXPECT_EQ(opened.size, c.size) << c.header;
        EXPECT_EQ(opened.head, c.head) << c.header;
    }

    int asked = 0;
    const delivery::FileReply past = delivery::OpenForReply(
        name,
        [&asked] {
            ++asked;
            return std::string("text/plain");
        },
        "GET /f.txt HTTP/1.0\r\nRange: bytes=10-");
    EXPECT_EQ(past.status, 416);
    EXPECT_EQ(past.size, 0) << "nothing of the file follows the page";
    EXPECT_EQ(asked, 0);
    const std::string page = webpage::Page(
        "Requested range not satisfiable",
        "<p>The range asked for starts past the end of this file, which holds 10 bytes.</p>");
    EXPECT_EQ(past.head, webpage::Reply(416, page, "Content-Range: bytes */10\r\n"));
    EXPECT_TRUE(past.head.starts_with("HTTP/1.0 416 Requested range not satisfiable\r\n"
                                      "Content-Range: bytes */10\r\n"));
}

// What a file must be before a reply is sent from it; the type is asked only for one that is.
TEST(OpenForReply, OnlyARegularFileNobodyWritesIsOpened) {
    QTemporaryDir folder;
    const std::string base = folder.path().toStdString();
    int asked = 0;
    const auto type = [&asked] {
        ++asked;
        return std::string("text/plain");
    };
    ASSERT_EQ(::mkfifo((base + "/pipe").c_str(), 0600), 0);
    ::mkdir((base + "/folder").c_str(), 0700);
    const int fd = ::open((base + "/file.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::write(fd, "hello", 5), 5);
    ::close(fd);

    for (const char* name : {"/pipe", "/folder", "/missing"}) {
        const delivery::FileReply reply = delivery::OpenForReply(base + name, type);
        EXPECT_FALSE(reply.file.valid()) << name;
        EXPECT_EQ(reply.status, 404) << name;
        EXPECT_EQ(reply.message, "<h2>File not really found</h2>") << name;
    }
    EXPECT_EQ(asked, 0);

    {
        // Held with a shared lock while it is sent.
        const delivery::FileReply opened = delivery::OpenForReply(base + "/file.txt", type);
        ASSERT_TRUE(opened.file.valid());
        EXPECT_EQ(opened.size, 5);
        EXPECT_EQ(opened.head,
                  "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: text/plain\r\n"
                  "Content-Length: 5\r\n\r\n");
        EXPECT_EQ(asked, 1);
        const int other = ::open((base + "/file.txt").c_str(), O_WRONLY);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }

    // A writer holding the file: not ready to be read.
    const int writer = ::open((base + "/file.txt").c_str(), O_WRONLY);
    ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
    const delivery::FileReply locked = delivery::OpenForReply(base + "/file.txt", type);
    EXPECT_FALSE(locked.file.valid());
    EXPECT_EQ(locked.status, 404);
    EXPECT_EQ(locked.message, "Unable to open this file for read");
    ::close(writer);
}
