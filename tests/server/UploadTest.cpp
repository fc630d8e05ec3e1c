// The upload file on its own, both ways it can wait for its name: no partial file is ever
// visible, naming never replaces a file, and nothing is left behind when an upload fails.
#include "server/Upload.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using upload::UploadFile;
using Outcome = UploadFile::Outcome;

namespace {

class Uploads : public ::testing::TestWithParam<UploadFile::Waiting> {
protected:
    std::string path(const char* name) const {
        return QFile::encodeName(folder.filePath(name)).toStdString();
    }
    QStringList everything() const {
        return QDir(folder.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    static QByteArray read(const std::string& name) {
        QFile file(QString::fromStdString(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QTemporaryDir folder;
};

} // namespace

TEST_P(Uploads, OfTwoForOneNameTheFirstNamedWinsAndNothingIsLeftBehind) {
    {
        UploadFile first(path("race.txt"), GetParam());
        UploadFile second(path("race.txt"), GetParam());
        ASSERT_TRUE(first.Opened());
        ASSERT_TRUE(second.Opened());
        first.Write("first", 5);
        second.Write("second", 6);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(path("race.txt"))))
            << "the name appears only when the file is whole";
        EXPECT_EQ(second.Publish(), Outcome::Saved);
        EXPECT_EQ(first.Publish(), Outcome::Exists);
        EXPECT_EQ(first.Publish(), Outcome::CannotCreate) << "named at most once";
    }
    EXPECT_EQ(read(path("race.txt")), "second");
    EXPECT_EQ(everything(), QStringList("race.txt"));
}

TEST_P(Uploads, FailuresLeaveNoFile) {
    {
        UploadFile abandoned(path("abandoned.txt"), GetParam());
        abandoned.Write("partial", 7);
    }
    EXPECT_EQ(everything(), QStringList()) << "an upload that ends unnamed leaves nothing";

    UploadFile nowhere(path("no-folder/x.txt"), GetParam());
    EXPECT_FALSE(nowhere.Opened());
    EXPECT_EQ(nowhere.Publish(), Outcome::CannotCreate);

    QDir(folder.path()).mkdir("taken");
    {
        UploadFile ontoFolder(path("taken"), GetParam());
        EXPECT_EQ(ontoFolder.Publish(), Outcome::CannotCreate) << "a folder is not a file that won";
    }

    {
        const FileSizeLimit limit(100);
        UploadFile full(path("full.txt"), GetParam());
        const std::string body(1000, 'f');
        full.Write(body.data(), body.size());
        full.Write("more", 4);
        EXPECT_EQ(full.Publish(), Outcome::CannotWrite);
    }
    EXPECT_EQ(everything(), QStringList("taken")) << everything().join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothWays, Uploads,
                         ::testing::Values(UploadFile::Waiting::Unnamed,
                                           UploadFile::Waiting::HiddenName));
