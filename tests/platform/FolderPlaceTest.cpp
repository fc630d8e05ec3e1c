// Where folders really are: links, "..", trailing slashes and folders not made yet, each row
// against a tree made for it.
#include "platform/FolderPlace.h"
#include "platform/FolderCalls.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class FolderPlaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = real(QFile::encodeName(dir.path()).toStdString());
        for (const char* folder : {"/base", "/base/up", "/elsewhere"})
            ASSERT_EQ(::mkdir((root + folder).c_str(), 0700), 0) << folder;
        ASSERT_EQ(::symlink((root + "/elsewhere").c_str(), (root + "/base/out").c_str()), 0);
        ASSERT_EQ(::symlink((root + "/base/up").c_str(), (root + "/link-up").c_str()), 0);
    }
    static std::string real(const std::string& name) {
        char buffer[PATH_MAX];
        return ::realpath(name.c_str(), buffer) ? buffer : "";
    }

    QTemporaryDir dir;
    std::string root;
};

} // namespace

TEST_F(FolderPlaceTest, RealFolderFollowsLinksAndNamesMissingFoldersByTheirPlace) {
    const std::pair<std::string, std::string> rows[] = {
        {"/base", "/base"},
        {"/base/", "/base"},
        {"/base//up///", "/base/up"},
        {"/base/up/..", "/base"},
        {"/base/out", "/elsewhere"},
        {"/link-up", "/base/up"},
        {"/base/new", "/base/new"},
        {"/base/new/deeper/", "/base/new/deeper"},
        {"/base/out/new", "/elsewhere/new"},
    };
    for (const auto& [name, expected] : rows)
        EXPECT_EQ(platform::RealFolder(root + name), root + expected) << name;
    EXPECT_EQ(platform::RealFolder(root + "/base/new/.."), "") << "a missing step then \"..\"";
    EXPECT_EQ(platform::RealFolder(root + "/base/new/."), "");
    EXPECT_EQ(platform::RealFolder("/"), "/");
}

TEST_F(FolderPlaceTest, WithinComparesWholeStepsOfTheRealFolders) {
    const std::string base = root + "/base";
    EXPECT_TRUE(platform::FolderWithin(base, base));
    EXPECT_TRUE(platform::FolderWithin(base + "/up", base));
    EXPECT_TRUE(platform::FolderWithin(root + "/link-up", base)) << "a link into it";
    EXPECT_TRUE(platform::FolderWithin(base + "/not-yet", base));
    EXPECT_FALSE(platform::FolderWithin(base + "/out", base)) << "a link out of it";
    EXPECT_FALSE(platform::FolderWithin(root + "/base2", base)) << "a name that only begins alike";
    EXPECT_FALSE(platform::FolderWithin(root, base));
    EXPECT_FALSE(platform::FolderWithin(base + "/new/..", base)) << "not resolvable";
    EXPECT_TRUE(platform::FolderWithin(root + "/anything", "/"));
    EXPECT_TRUE(platform::MakeFolder(base + "/made") && platform::IsFolder(base + "/made"));
    EXPECT_FALSE(platform::MakeFolder(base + "/no/such")) << "one folder, never its parents";
}
