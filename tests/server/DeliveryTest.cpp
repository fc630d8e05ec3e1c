// A file reply on a connection of the test's own: what each hand-over carries, when the delivery
// waits, and how a file that shrinks or a connection that goes ends it.
#include "server/Delivery.h"

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
