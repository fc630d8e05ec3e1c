// What a folder's kept reading may be used for: the same folder as it stood, for a moment.
#include "server/FolderMemo.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using foldermemo::Clock;
using foldermemo::Memo;
using foldermemo::Stamp;
using namespace std::chrono_literals;

namespace {

std::shared_ptr<const std::string> Value(const char* text) {
    return std::make_shared<const std::string>(text);
}

std::string Text(const std::shared_ptr<const std::string>& value) {
    return value ? *value : std::string("<none>");
}

} // namespace

TEST(FolderMemo, AValueServesTheFolderAsItStoodForAMomentOnly) {
    const Clock::time_point t0{};
    const Stamp a{1, 2, {10, 5}, {10, 5}};
    Stamp moved = a;
    moved.modified.tv_nsec = 6;
    Stamp changed = a;
    changed.changed.tv_sec = 11;
    Stamp other = a;
    other.inode = 3;

    Memo<std::string> memo(4, 1000);
    memo.Keep("f", a, Value("page"), 10, t0);
    EXPECT_EQ(Text(memo.Find("f", a, t0)), "page");
    EXPECT_EQ(Text(memo.Find("f", a, t0 + foldermemo::kMaxAge - 1ms)), "page");
    EXPECT_EQ(Text(memo.Find("f", a, t0 + foldermemo::kMaxAge)), "<none>") << "too old";
    EXPECT_EQ(Text(memo.Find("f", moved, t0)), "<none>") << "an entry added or removed";
    EXPECT_EQ(Text(memo.Find("f", changed, t0)), "<none>") << "its rights changed";
    EXPECT_EQ(Text(memo.Find("f", other, t0)), "<none>") << "another folder by that name";
    EXPECT_EQ(Text(memo.Find("g", a, t0)), "<none>");
    memo.Keep("f", moved, Value("new"), 10, t0);
    EXPECT_EQ(Text(memo.Find("f", moved, t0)), "new");
    EXPECT_EQ(Text(memo.Find("f", a, t0)), "<none>") << "replaced, not kept beside";
}

TEST(FolderMemo, HoldsBoundedCountAndBytesOldestGoingFirst) {
    const Clock::time_point t0{};
    const Stamp s{};
    Memo<std::string> memo(3, 100);
    for (const char* key : {"a", "b", "c", "d"})
        memo.Keep(key, s, Value(key), 10, t0);
    EXPECT_EQ(Text(memo.Find("a", s, t0)), "<none>") << "four kept in room for three";
    EXPECT_EQ(Text(memo.Find("d", s, t0)), "d");
    memo.Keep("big", s, Value("big"), 85, t0);
    EXPECT_EQ(Text(memo.Find("b", s, t0)), "<none>");
    EXPECT_EQ(Text(memo.Find("c", s, t0)), "<none>");
    EXPECT_EQ(Text(memo.Find("d", s, t0)), "d") << "10 + 85 bytes fit in 100";
    EXPECT_EQ(Text(memo.Find("big", s, t0)), "big");
    memo.Keep("huge", s, Value("huge"), 101, t0);
    EXPECT_EQ(Text(memo.Find("huge", s, t0)), "<none>") << "larger than the whole";
    EXPECT_EQ(Text(memo.Find("big", s, t0)), "big") << "and it pushed nothing out";
}

TEST(FolderMemo, AFoldersStampMovesWithEveryEntryAddedOrRemoved) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const auto before = foldermemo::StampOf(folder);
    ASSERT_TRUE(before);
    const std::string file = folder + "/new.txt";
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
    const auto added = foldermemo::StampOf(folder);
    ASSERT_TRUE(added);
    EXPECT_FALSE(*added == *before);
    ::unlink(file.c_str());
    EXPECT_FALSE(*foldermemo::StampOf(folder) == *added);
    EXPECT_FALSE(foldermemo::StampOf(folder + "/missing"));
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
    EXPECT_FALSE(foldermemo::StampOf(file)) << "a file is no folder";
}
