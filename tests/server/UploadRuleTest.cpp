// Where an upload may go under each choice, judged on the folders as they really are (links
// followed, a missing upload folder by where it would be made), and the free-space limit.
#include "server/UploadRule.h"

#include "platform/FolderCalls.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class UploadRuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base() + "Uploads/deep")));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base() + "other")));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path("outside"))));
        ASSERT_EQ(::symlink(path("outside").c_str(), (base() + "Uploads/out").c_str()), 0);
        ASSERT_EQ(::symlink((base() + "Uploads").c_str(), (base() + "up-link").c_str()), 0);
    }
    std::string path(const std::string& relative) const {
        return QFile::encodeName(dir.path()).toStdString() + "/" + relative;
    }
    std::string base() const { return path("base/"); }
    std::optional<upload::Answer> check(UploadsChoice choice, const std::string& uploadFolder,
                                        const std::string& target, int64_t declared = 5) const {
        return uploadrule::Check({choice, base(), uploadFolder}, base() + target, declared,
                                 [this](const std::string&) { return room; });
    }
    static std::string outcome(const std::optional<upload::Answer>& answer) {
        return answer ? std::to_string(answer->status) + " " + answer->message : "taken";
    }

    QTemporaryDir dir;
    std::optional<uint64_t> room = 1000;
};

} // namespace

TEST_F(UploadRuleTest, WhereEachChoiceTakesAnUpload) {
    const std::string uploads = base() + "Uploads/";
    const std::string inFolder = "403 Uploads are taken into the upload folder only";
    const std::string folderOutside =
        "403 The upload folder lies outside the base folder: no upload is taken";
    struct Row {
        const char* what;
        UploadsChoice choice;
        std::string uploadFolder;
        std::string target;
        std::string expected;
    };
    const Row rows[] = {
        {"switched off", UploadsChoice::Off, uploads, "Uploads/a.txt",
         "403 Uploads are switched off"},
        {"into the upload folder", UploadsChoice::UploadFolder, uploads, "/Uploads/a.txt", "taken"},
        {"below it", UploadsChoice::UploadFolder, uploads, "/Uploads/deep/a.txt", "taken"},
        {"the upload folder named without its slash", UploadsChoice::UploadFolder,
         base() + "Uploads", "/Uploads/a.txt", "taken"},
        {"beside it", UploadsChoice::UploadFolder, uploads, "/other/a.txt", inFolder},
        {"the base folder itself", UploadsChoice::UploadFolder, uploads, "/a.txt", inFolder},
        {"a name that only begins like it", UploadsChoice::UploadFolder, uploads, "/Uploads2/a.txt",
         inFolder},
        {"through a link out of it", UploadsChoice::UploadFolder, uploads, "/Uploads/out/a.txt",
         inFolder},
        {"through a link into it", UploadsChoice::UploadFolder, uploads, "/up-link/a.txt", "taken"},
        {"an upload folder outside the base", UploadsChoice::UploadFolder, path("outside/"),
         "/Uploads/a.txt", folderOutside},
        {"no upload folder set", UploadsChoice::UploadFolder, "", "/Uploads/a.txt", folderOutside},
        {"anywhere under the base", UploadsChoice::UnderBase, uploads, "/other/a.txt", "taken"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(outcome(check(row.choice, row.uploadFolder, row.target)), row.expected)
            << row.what;
}

TEST_F(UploadRuleTest, AMissingUploadFolderIsMadeForTheFirstUploadIntoIt) {
    const std::string fresh = base() + "Fresh/";
    EXPECT_EQ(outcome(check(UploadsChoice::UploadFolder, fresh, "/other/a.txt")),
              "403 Uploads are taken into the upload folder only");
    EXPECT_FALSE(platform::IsFolder(fresh)) << "an upload elsewhere does not make it";
    EXPECT_EQ(outcome(check(UploadsChoice::UploadFolder, fresh, "/Fresh/a.txt")), "taken");
    EXPECT_TRUE(platform::IsFolder(fresh));
    EXPECT_EQ(outcome(check(UploadsChoice::UploadFolder, base() + "No/Such/", "/No/Such/a.txt")),
              "taken")
        << "the place is right; the file's creation fails later";
    EXPECT_FALSE(platform::IsFolder(base() + "No"))
        << "only the one folder is made, never its parents";
}

TEST_F(UploadRuleTest, ALengthAboveTheFreeSpaceIsRefused) {
    room = 1000;
    EXPECT_EQ(outcome(check(UploadsChoice::UnderBase, "", "/a.txt", 1000)), "taken");
    EXPECT_EQ(outcome(check(UploadsChoice::UnderBase, "", "/a.txt", 1001)),
              "413 Not enough free space for this upload");
    EXPECT_EQ(
        outcome(check(UploadsChoice::UploadFolder, base() + "Uploads/", "/other/a.txt", 1001)),
        "403 Uploads are taken into the upload folder only")
        << "where it goes is judged first";
    room = std::nullopt;
    EXPECT_EQ(outcome(check(UploadsChoice::UnderBase, "", "/a.txt", int64_t{1} << 40)), "taken")
        << "a folder that cannot be looked at leaves it to the file's creation";
}
