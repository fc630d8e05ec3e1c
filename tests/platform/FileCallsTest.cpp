#include "platform/FileCalls.h"
#include "platform/ErrnoText.h"
#include "platform/FolderCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// A signal that interrupts a call must not fail it: the call is made again.
TEST(FileCalls, InterruptedCallsAreMadeAgain) {
    int calls = 0;
    const int result = platform::RetryOnInterrupt([&] {
        if (++calls < 3) {
            errno = EINTR;
            return -1;
        }
        return 7;
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(calls, 3);

    calls = 0;
    const long failed = platform::RetryOnInterrupt([&] {
        ++calls;
        errno = EBADF;
        return -1L;
    });
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(calls, 1) << "other failures are not retried";
}

// What a file reply asks of a file: is it a regular one, how long, and is a writer holding it.
TEST(FileCalls, RegularFileSizeAndTheSharedLockAWriterRefuses) {
    const std::string folder =
        ::testing::TempDir() + "koru-filecalls-" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/f.txt";
    const std::string pipe = folder + "/p";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    {
        const platform::FileHandle out(platform::OpenFile(file.c_str(), O_WRONLY | O_CREAT, 0600));
        ASSERT_TRUE(platform::WriteAll(out.get(), "12345", 5));
    }
    EXPECT_TRUE(platform::IsRegularFile(file));
    EXPECT_FALSE(platform::IsRegularFile(folder));
    EXPECT_FALSE(platform::IsRegularFile(pipe));
    EXPECT_FALSE(platform::IsRegularFile(folder + "/none"));

    const platform::FileHandle regular(platform::OpenFile(file.c_str(), O_RDONLY | O_NONBLOCK));
    const platform::FileHandle dir(platform::OpenFile(folder.c_str(), O_RDONLY | O_NONBLOCK));
    const platform::FileHandle fifo(platform::OpenFile(pipe.c_str(), O_RDONLY | O_NONBLOCK));
    EXPECT_EQ(platform::RegularFileSize(regular.get()), 5);
    EXPECT_EQ(platform::RegularFileSize(dir.get()), std::nullopt);
    EXPECT_EQ(platform::RegularFileSize(fifo.get()), std::nullopt) << "opening it did not block";

    EXPECT_TRUE(platform::LockSharedNow(regular.get()));
    const platform::FileHandle reader(platform::OpenFile(file.c_str(), O_RDONLY));
    EXPECT_TRUE(platform::LockSharedNow(reader.get())) << "readers share";
    ::flock(regular.get(), LOCK_UN);
    ::flock(reader.get(), LOCK_UN);
    const platform::FileHandle writer(platform::OpenFile(file.c_str(), O_WRONLY));
    ASSERT_EQ(::flock(writer.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(platform::LockSharedNow(regular.get())) << "a writer that is not done holds it";
    ::unlink(file.c_str());
    ::unlink(pipe.c_str());
    ::rmdir(folder.c_str());
}

// What an upload's file must be: never handed to a program the server starts (close-on-exec),
// and readable by others once published, as a file the user made would be.
TEST(FileCalls, OpenedFilesCloseOnExecAndHiddenFilesArePublishedReadable) {
    const std::string folder =
        ::testing::TempDir() + "koru-filemodes-" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const mode_t savedMask = ::umask(022);
    const std::string plain = folder + "/plain";
    {
        const platform::FileHandle file(
            platform::OpenFile(plain.c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_TRUE(file.valid());
        EXPECT_TRUE(::fcntl(file.get(), F_GETFD) & FD_CLOEXEC);
    }
    std::string hidden;
    {
        const platform::FileHandle file(platform::CreateHiddenFile(folder, "up", hidden));
        ASSERT_TRUE(file.valid());
        EXPECT_TRUE(::fcntl(file.get(), F_GETFD) & FD_CLOEXEC);
        struct stat info {};
        ASSERT_EQ(::fstat(file.get(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0644u) << "left private to its maker";
        EXPECT_EQ(hidden.rfind(folder + "/.up", 0), 0u) << hidden;
    }
    std::string guarded;
    ::umask(027);
    {
        const platform::FileHandle file(platform::CreateHiddenFile(folder, "up", guarded));
        ASSERT_TRUE(file.valid());
        struct stat info {};
        ASSERT_EQ(::fstat(file.get(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u) << "the user's umask is kept";
    }
    ::unlink(guarded.c_str());
    ::umask(savedMask);
    ::unlink(plain.c_str());
    ::unlink(hidden.c_str());
    ::rmdir(folder.c_str());
}

// A read that takes fewer bytes than asked for (a signal, a slow file system) is followed by one
// from where it stopped, until the end of the file.
TEST(FileCalls, ShortReadsGoOnFromWhereTheyStopped) {
    const std::string file = "0123456789abcdefghij";
    int reads = 0;
    const auto threeAtATime = [&](char* buffer, size_t count, off_t at) -> ssize_t {
        ++reads;
        if (at >= static_cast<off_t>(file.size()))
            return 0;
        const size_t n = std::min({count, size_t{3}, file.size() - static_cast<size_t>(at)});
        std::memcpy(buffer, file.data() + at, n);
        return static_cast<ssize_t>(n);
    };
    std::string out(12, '\0');
    EXPECT_EQ(platform::ReadFullyWith(threeAtATime, out.data(), out.size(), 5), 12u);
    EXPECT_EQ(out, "56789abcdefg");
    EXPECT_EQ(reads, 4);
    std::string tail(10, '\0');
    EXPECT_EQ(platform::ReadFullyWith(threeAtATime, tail.data(), tail.size(), 15), 5u)
        << "fewer only at the end of the file";
    EXPECT_EQ(tail.substr(0, 5), "fghij");
}

// The reasons a desktop user meets read as plain words inside a sentence; the rest as the system
// words them, in the same lower case.
TEST(ErrnoText, PlainWordsForWhatUsersMeet) {
    const std::vector<std::pair<int, const char*>> cases{
        {ENOENT, "a folder on its path does not exist"},
        {ENOSPC, "the disk is full"},
        {ENOTDIR, "a part of its path is not a folder"},
        {ENXIO, "it is a pipe that nothing reads"},
        {0, "no reason was given"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(platform::ErrnoText(code).toStdString(), text) << code;
    const QString other = platform::ErrnoText(EXDEV);
    EXPECT_FALSE(other.isEmpty());
    EXPECT_EQ(other, other.toLower());
    EXPECT_FALSE(platform::ErrnoText(123456).isEmpty()) << "a code the system does not know";
}

TEST(MakeFolders, MakesEveryMissingFolderAndSaysWhyNot) {
    char pattern[] = "/tmp/koru-folders-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    EXPECT_EQ(platform::MakeFolders(root + "/a/b/c/"), 0);
    EXPECT_TRUE(platform::IsFolder(root + "/a/b/c"));
    EXPECT_EQ(platform::MakeFolders(root + "/a/b/c"), 0) << "there already";
    EXPECT_EQ(platform::MakeFolders(root + "//a//d"), 0) << "doubled separators";
    EXPECT_TRUE(platform::IsFolder(root + "/a/d"));

    const std::string file = root + "/file";
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0600));
    EXPECT_EQ(platform::MakeFolders(file), EEXIST) << "a file has the name";
    EXPECT_EQ(platform::MakeFolders(file + "/sub"), ENOTDIR);
    EXPECT_EQ(platform::MakeFolders(""), ENOENT);
    if (::geteuid() != 0) {
        ::chmod((root + "/a").c_str(), 0500);
        EXPECT_EQ(platform::MakeFolders(root + "/a/e/f"), EACCES);
        ::chmod((root + "/a").c_str(), 0700);
    }
    std::filesystem::remove_all(root);
}
