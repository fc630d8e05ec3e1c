#include "platform/LocalSocket.h"

#include <gtest/gtest.h>

#include "support/LocalPeers.h"

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct stat entry(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        st.st_mode = 0;
    return st;
}

mode_t modeOf(const std::string& path) {
    return entry(path).st_mode & 07777;
}

bool writeFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "w");
    return file && std::fputs("not a socket", file) >= 0 && std::fclose(file) == 0;
}

class LocalFolder : public ::testing::Test {
protected:
    std::string root() const { return dir.path().toStdString(); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(LocalFolder, RuntimeFolderIsTakenOnlyWhenPrivateAndOurs) {
    const uid_t me = ::getuid();
    const std::string good = root() + "/good", wide = root() + "/wide", file = root() + "/file";
    ASSERT_EQ(::mkdir(good.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(wide.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(wide.c_str(), 0755), 0);
    ASSERT_TRUE(writeFile(file));
    const std::string fallback = root() + "/koru-" + std::to_string(me);
    const struct {
        const char* what;
        const char* runtime;
        std::string wanted;
    } cases[] = {
        {"private and ours", good.c_str(), good},
        {"readable by others", wide.c_str(), fallback},
        {"a file", file.c_str(), fallback},
        {"missing", "/nonexistent/run", fallback},
        {"relative", "run", fallback},
        {"empty", "", fallback},
        {"unset", nullptr, fallback},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChoosePrivateFolder(c.runtime, root(), me), c.wanted) << c.what;
    EXPECT_EQ(modeOf(fallback), 0700u);
}

TEST_F(LocalFolder, FallbackIsNarrowedButNeverAForeignFolderOrALink) {
    const uid_t me = ::getuid();
    const std::string mine = root() + "/koru-" + std::to_string(me);
    ASSERT_EQ(::mkdir(mine.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(mine.c_str(), 0777), 0);
    EXPECT_EQ(ChoosePrivateFolder(nullptr, root(), me), mine);
    EXPECT_EQ(modeOf(mine), 0700u) << "a folder of ours made private again";

    // Made by us, so another user's name for it is not theirs: refused.
    const uid_t other = me + 1;
    EXPECT_EQ(ChoosePrivateFolder(nullptr, root(), other), "");

    // A link planted at the name, even to a private folder of ours, is not followed.
    const std::string elsewhere = root() + "/elsewhere", base = root() + "/linked";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(base.c_str(), 0700), 0);
    const std::string planted = base + "/koru-" + std::to_string(me);
    ASSERT_EQ(::symlink(elsewhere.c_str(), planted.c_str()), 0);
    EXPECT_EQ(ChoosePrivateFolder(nullptr, base, me), "");
}

TEST_F(LocalFolder, PathTooLongForASocketAddressIsNone) {
    EXPECT_EQ(LocalSocketPath(root()), root() + "/koru.sock");
    EXPECT_EQ(LocalSocketPath(""), "");
    EXPECT_EQ(LocalSocketPath("/" + std::string(120, 'x')), "");
}

TEST_F(LocalFolder, AskTellsWhatSitsAtThePath) {
    const std::string path = LocalSocketPath(root());
    EXPECT_EQ(AskLocal(path, "show\n", LocalClock::now() + 1s).outcome, LocalAsk::Nobody);

    ASSERT_TRUE(localpeers::makeStaleSocket(path));
    EXPECT_EQ(AskLocal(path, "show\n", LocalClock::now() + 1s).outcome, LocalAsk::Stale);
    ::unlink(path.c_str());

    ASSERT_TRUE(writeFile(path));
    EXPECT_EQ(AskLocal(path, "show\n", LocalClock::now() + 1s).outcome, LocalAsk::Unusable);
    ::unlink(path.c_str());

    {
        const localpeers::Listener answering(path, "shown\nmore");
        ASSERT_TRUE(answering.Ok());
        const LocalReply reply = AskLocal(path, "show\n", LocalClock::now() + 5s);
        EXPECT_EQ(reply.outcome, LocalAsk::Answered);
        EXPECT_EQ(reply.line, "shown");
    }
    ::unlink(path.c_str());
    {
        // Half a line, then silence: no answer.
        const localpeers::Listener mumbling(path, "sho");
        ASSERT_TRUE(mumbling.Ok());
        EXPECT_EQ(AskLocal(path, "show\n", LocalClock::now() + 300ms).outcome, LocalAsk::NoAnswer);
    }
}

TEST_F(LocalFolder, ListenReplacesOnlyWhenToldAndNeverAFolder) {
    const std::string path = LocalSocketPath(root());
    ASSERT_TRUE(writeFile(path));
    LocalListener listener;
    EXPECT_FALSE(listener.Listen(path, false));
    EXPECT_TRUE(S_ISREG(entry(path).st_mode)) << "left alone";
    ASSERT_TRUE(listener.Listen(path, true));
    EXPECT_TRUE(S_ISSOCK(entry(path).st_mode));
    EXPECT_EQ(AskLocal(path, "show\n", LocalClock::now() + 100ms).outcome, LocalAsk::NoAnswer)
        << "reachable, though nobody answers yet";
    listener.Close();
    EXPECT_EQ(entry(path).st_mode, 0u) << "its own file is removed";

    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_FALSE(listener.Listen(path, true));
    EXPECT_TRUE(S_ISDIR(entry(path).st_mode));
}

TEST_F(LocalFolder, LockHeldElsewhereIsWaitedForOnlyUntilTheDeadline) {
    const std::string path = root() + "/koru.lock";
    {
        const LocalLock first(path, LocalClock::now());
        ASSERT_TRUE(first.Held());
        const auto begun = LocalClock::now();
        const LocalLock second(path, begun + 200ms);
        EXPECT_FALSE(second.Held());
        EXPECT_LT(LocalClock::now() - begun, 600ms);
    }
    EXPECT_TRUE(LocalLock(path, LocalClock::now()).Held()) << "released with its holder";
}
