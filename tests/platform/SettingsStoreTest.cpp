#include "platform/SettingsStore.h"

#include "support/TempStore.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::SettingsStore;
using platform::StoreError;
using platform::StoreRoot;

namespace {
const QString kKey = QStringLiteral("Software\\Quillbrook\\Projects\\KORU\\Settings");

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// A folder that takes no new files for its lifetime while the files in it stay writable: the
// immutable flag, which holds for root as well. Not set where the file system or the caller's
// privileges do not allow it.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const QString& path)
        : fd_(::open(path.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        set_ = fd_ >= 0 && setFlag(true);
    }
    ~ImmutableFolder() {
        if (set_)
            setFlag(false);
        if (fd_ >= 0)
            ::close(fd_);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool isSet() const { return set_; }

private:
    bool setFlag(bool on) const {
        int flags = 0;
        if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    int fd_;
    bool set_ = false;
};

// A store that holds a value, in a folder the test then closes to new files.
class LockedFolderStore : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(file(), "[KORU]\nSettings\\Edit1=old\n");
        ASSERT_TRUE(QFileInfo(file()).isWritable());
    }
    QString folder() const { return temp.systemDir() + "/Quillbrook"; }
    QString file() const { return folder() + "/Projects.conf"; }
    // The text of the error a save raises, or "" when the save went through.
    std::string saveError() {
        SettingsStore store(StoreRoot::MachineWide);
        EXPECT_TRUE(store.OpenKey(kKey, true));
        try {
            store.WriteString("Edit1", "new");
        } catch (const StoreError& e) {
            return e.what();
        }
        return {};
    }
    void expectFolderNamedAsTheCause(const std::string& error) {
        EXPECT_NE(error.find("Cannot save the settings to " + file().toStdString() + ": "),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find("the folder " + folder().toStdString() + " is not writable"),
                  std::string::npos)
            << error;
    }

    TempStore temp;
};
} // namespace

TEST(SettingsStore, KeyPathPicksFileAndGroup) {
    TempStore temp;
    EXPECT_EQ(platform::StoreFileFor(StoreRoot::MachineWide, kKey),
              temp.systemDir() + "/Quillbrook/Projects.conf");
    EXPECT_EQ(platform::StoreFileFor(StoreRoot::PerUser, kKey),
              temp.userDir() + "/Quillbrook/Projects.conf");
    EXPECT_TRUE(platform::StoreFileFor(StoreRoot::PerUser, "Hardware\\X\\Y").isEmpty());

    SettingsStore store(StoreRoot::MachineWide);
    EXPECT_FALSE(store.OpenKey(kKey, false)) << "a missing key does not open without create";
    ASSERT_TRUE(store.OpenKey(kKey, true));
    store.WriteString("Edit1", "C:\\Webbase\\");
    store.WriteString("MIME", "\"htm\"=\"text/html\"@");
    store.CloseKey();

    QFile file(temp.systemDir() + "/Quillbrook/Projects.conf");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.startsWith("[KORU]")) << content.constData();
    EXPECT_TRUE(content.contains("Settings\\Edit1=")) << content.constData();

    ASSERT_TRUE(store.OpenKey(kKey, false));
    EXPECT_TRUE(store.ValueExists("Edit1"));
    EXPECT_FALSE(store.ValueExists("Edit2"));
    EXPECT_EQ(store.ReadString("Edit1"), "C:\\Webbase\\");
    EXPECT_EQ(store.ReadString("MIME"), "\"htm\"=\"text/html\"@");
}

TEST(SettingsStore, ValueThatIsNotTextIsAnError) {
    TempStore temp;
    writeFile(temp.systemDir() + "/Quillbrook/Projects.conf",
              "[KORU]\nSettings\\Edit1=@ByteArray(\\0\\x1)\nSettings\\Edit2=a, b\n"
              "Settings\\Edit3=plain\n");
    SettingsStore store(StoreRoot::MachineWide);
    ASSERT_TRUE(store.OpenKey(kKey, false));
    EXPECT_THROW(store.ReadString("Edit1"), StoreError);
    EXPECT_THROW(store.ReadString("Edit2"), StoreError);
    EXPECT_EQ(store.ReadString("Edit3"), "plain");
}

TEST(SettingsStore, WriteThatDoesNotReachTheDiskIsReportedWithFileAndReason) {
    TempStore temp;
    // A plain file where the store's folder should be: no user, root included, can write there.
    writeFile(temp.systemDir() + "/Quillbrook", "not a folder");
    SettingsStore store(StoreRoot::MachineWide);
    ASSERT_TRUE(store.OpenKey(kKey, true));
    try {
        store.WriteString("Edit1", "x");
        ADD_FAILURE() << "the write was reported as done";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("Quillbrook/Projects.conf"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("cannot create the folder"), std::string::npos)
            << e.what();
    }
}

TEST_F(LockedFolderStore, FolderWithoutWritePermissionIsNamedAsTheCause) {
    ASSERT_EQ(::chmod(folder().toLocal8Bit().constData(), 0555), 0);
    const bool moot = ::geteuid() == 0 || ::access(folder().toLocal8Bit().constData(), W_OK) == 0;
    const std::string error = moot ? std::string() : saveError();
    ::chmod(folder().toLocal8Bit().constData(), 0755);
    if (moot)
        GTEST_SKIP() << "permissions do not bind this user (root): see the immutable folder case";
    expectFolderNamedAsTheCause(error);
}

TEST_F(LockedFolderStore, ImmutableFolderIsNamedAsTheCauseEvenForRoot) {
    std::string error;
    {
        const ImmutableFolder locked(folder());
        if (!locked.isSet())
            GTEST_SKIP() << "the immutable flag cannot be set here (file system or privileges)";
        error = saveError();
    }
    expectFolderNamedAsTheCause(error);
}
