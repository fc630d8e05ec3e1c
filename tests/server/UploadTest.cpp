// The upload file on its own, both ways it can wait for its name: no partial file is ever
// visible, naming never replaces a file, and nothing is left behind when an upload fails.
#include "server/Upload.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QDateTime>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

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

// Where a file system has no unnamed files, an upload waits under a hidden name. That name is
// nobody's to read, a crash's leftovers of it are swept, and the program's end removes its own.
TEST(UploadTemporaries, HiddenNamesAreSweptWhenStaleAndRemovedAtTheEnd) {
    QTemporaryDir folder;
    const auto path = [&](const QString& name) {
        return QFile::encodeName(folder.filePath(name)).toStdString();
    };
    const auto hidden = [&] {
        return QDir(folder.path()).entryList({".koru-upload-*"}, QDir::Files | QDir::Hidden);
    };
    const auto makeStale = [&](const QString& name, int ageSeconds) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left behind");
        file.flush();
        file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                         QFileDevice::FileModificationTime);
    };
    makeStale(".koru-upload-crash1", 3600);
    makeStale(".koru-upload-fresh1", 0);
    makeStale(".koru-upload-held01", 3600);
    makeStale(".other-hidden", 3600);
    // Another program's upload in progress holds its file.
    const int held = ::open(path(".koru-upload-held01").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    UploadFile live(path("next.txt"), UploadFile::Waiting::HiddenName, 60'000);
    ASSERT_TRUE(live.Opened());
    live.Write("part", 4);
    QStringList left = hidden();
    EXPECT_FALSE(left.contains(".koru-upload-crash1")) << "stale and nobody's: swept";
    EXPECT_TRUE(left.contains(".koru-upload-fresh1")) << "written lately: may be in progress";
    EXPECT_TRUE(left.contains(".koru-upload-held01")) << "held by its writer";
    EXPECT_TRUE(QFile::exists(folder.filePath(".other-hidden")));
    ASSERT_EQ(left.size(), 3) << left.join(' ').toStdString();
    left.removeAll(".koru-upload-fresh1");
    left.removeAll(".koru-upload-held01");
    const QString ours = left.front();

    {
        // A second upload's sweep never takes the live one, however old its time stamp.
        QFile stamped(folder.filePath(ours));
        ASSERT_TRUE(stamped.open(QIODevice::ReadOnly));
        stamped.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                            QFileDevice::FileModificationTime);
        UploadFile second(path("second.txt"), UploadFile::Waiting::HiddenName, 0);
        EXPECT_TRUE(QFile::exists(folder.filePath(ours)));
    }

    upload::RemoveTemporaries();
    EXPECT_FALSE(QFile::exists(folder.filePath(ours))) << "the program's end removes its own";
    EXPECT_EQ(live.Publish(), Outcome::CannotCreate) << "and the upload cannot complete any more";
    ::close(held);
}

TEST(UploadTemporaries, NamesThatRequestsNeverReach) {
    for (const char* name :
         {"/.koru-upload-Ab12Cd", "/sub/.koru-upload-x", "\\d\\.koru-upload-", ".koru-upload-1"})
        EXPECT_TRUE(upload::NamesTemporary(name)) << name;
    for (const char* name :
         {"/koru-upload-x", "/.koru-upload", "/.koru-upload-x/y", "/a.koru-upload-x", "/", ""})
        EXPECT_FALSE(upload::NamesTemporary(name)) << name;
}

// The plug-ins folder never receives an upload, whatever way its name is written.
TEST(UploadGuard, TheProtectedFolderAndWhatLiesBelowIt) {
    QTemporaryDir root;
    const QString base = root.path();
    QDir(base).mkpath("plugins/deeper");
    QDir(base).mkpath("plugins2");
    QFile::link(base + "/plugins", base + "/alias");
    const auto bytes = [&](const QString& relative) {
        return QFile::encodeName(base + relative).toStdString();
    };
    const std::string guarded = bytes("/plugins");
    EXPECT_TRUE(upload::InsideFolder(bytes("/plugins/Visitor.SO"), guarded));
    EXPECT_TRUE(upload::InsideFolder(bytes("/plugins/deeper/x.so"), guarded));
    EXPECT_TRUE(upload::InsideFolder(bytes("/alias/x.so"), guarded)) << "links are resolved";
    EXPECT_TRUE(upload::InsideFolder(bytes("//plugins/./x.so"), bytes("/plugins/")));
    EXPECT_TRUE(upload::InsideFolder(bytes("/plugins/x.so"), bytes("/alias")));
    EXPECT_FALSE(upload::InsideFolder(bytes("/plugins2/x.so"), guarded)) << "a longer name";
    EXPECT_FALSE(upload::InsideFolder(bytes("/x.so"), guarded));
    EXPECT_FALSE(upload::InsideFolder(bytes("/x.so"), bytes("/missing")));

    // An empty plug-ins path is the current folder.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(base + "/plugins"));
    EXPECT_TRUE(upload::InsideFolder(bytes("/plugins/x.so"), ""));
    EXPECT_FALSE(upload::InsideFolder(bytes("/x.so"), ""));
    QDir::setCurrent(before);
}
