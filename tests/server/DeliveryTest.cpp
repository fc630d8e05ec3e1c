// A file reply on a connection of the test's own: what each hand-over carries, when the delivery
// waits, and how a file that shrinks or a connection that goes ends it.
#include "server/Delivery.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
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
