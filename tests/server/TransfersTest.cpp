#include "server/Transfers.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace transfers;

TEST(Transfers, SizesAsTheWindowShowsThem) {
    const std::pair<int64_t, const char*> rows[] = {{0, "0 B"},
                                                    {999, "999 B"},
                                                    {1000, "1.0 kB"},
                                                    {2'100'000, "2.1 MB"},
                                                    {9'949'999, "9.9 MB"},
                                                    {9'950'000, "10 MB"},
                                                    {999'499, "999 kB"},
                                                    {999'500, "1.0 MB"},
                                                    {4'700'000'000, "4.7 GB"},
                                                    {-5, "0 B"}};
    for (const auto& [bytes, text] : rows)
        EXPECT_EQ(SizeText(bytes), text) << bytes;
}

TEST(Transfers, OnlyLargeTransfersGoOnTheBoardAndEachLeavesWithItsEntry) {
    Board board;
    EXPECT_FALSE(board.Begin(Direction::Download, "p", "/small", kShownFromBytes - 1));
    EXPECT_TRUE(board.Snapshot().empty());
    {
        Entry first = board.Begin(Direction::Download, "10.0.0.2", "/film.mp4", 10'000'000);
        Entry second = board.Begin(Direction::Upload, "10.0.0.3", "/up.bin", kShownFromBytes);
        ASSERT_TRUE(first && second);
        first.Add(2'500'000);
        second.Add(kShownFromBytes + 99); // a peer that sends more than it declared
        const std::vector<Progress> now = board.Snapshot();
        ASSERT_EQ(now.size(), 2u);
        EXPECT_EQ(now[0].name, "/film.mp4");
        EXPECT_EQ(now[0].peer, "10.0.0.2");
        EXPECT_EQ(now[0].done, 2'500'000);
        EXPECT_EQ(now[1].direction, Direction::Upload);
        EXPECT_EQ(now[1].done, now[1].total) << "never past its end";
        EXPECT_LT(now[0].id, now[1].id);

        Entry moved = std::move(first);
        EXPECT_EQ(board.Snapshot().size(), 2u) << "a move keeps the transfer on the board";
        moved = {};
        ASSERT_EQ(board.Snapshot().size(), 1u);
        EXPECT_EQ(board.Snapshot()[0].name, "/up.bin");
    }
    EXPECT_TRUE(board.Snapshot().empty());
}

// Workers count while the window looks: every byte is counted, nothing tears (run under TSan).
TEST(Transfers, CountsFromManyThreadsWhileTheWindowLooks) {
    Board board;
    constexpr int kThreads = 4, kChunks = 2000;
    std::vector<std::thread> workers;
    std::atomic<int> ended{0};
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            Entry entry = board.Begin(Direction::Download, "peer", std::to_string(t), 1ll << 40);
            for (int i = 0; i < kChunks; ++i)
                entry.Add(1000);
            for (const Progress& p : board.Snapshot()) {
                if (p.name == std::to_string(t)) {
                    EXPECT_EQ(p.done, int64_t{kChunks} * 1000);
                }
            }
            ++ended;
        });
    while (ended.load() < kThreads) {
        for (const Progress& p : board.Snapshot())
            EXPECT_LE(p.done, int64_t{kChunks} * 1000);
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_TRUE(board.Snapshot().empty());
}
