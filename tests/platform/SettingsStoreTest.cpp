#include "platform/SettingsStore.h"

#include "support/TempStore.h"
#include "support/TestFiles.h"

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

// What writing Edit1 reports, for a write that must fail; a failure of the test when the write
// was reported as done.
std::string writeError(SettingsStore& store, const QString& value) {
    try {
        store.WriteString("Edit1", value);
    } catch (const StoreError& e) {
        return e.what();
    }
    ADD_FAILURE() << "the write was reported as done";
    return {};
}

// Sets the immutable flag on a folder for its lifetime: no new files, root included, while the
// files in it stay writable. isSet() is false where the file system or privileges refuse it.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const QString& path)
        : fd_(::open(path.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          set_(setFlag(true)) {}
    ~ImmutableFolder() {
        if (set_)
            setFlag(false);
        ::close(fd_);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool isSet() const { return set_; }

private:
    bool setFlag(bool on) const {
        int flags = 0;
        if (fd_ < 0 || ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    int fd_;
    bool set_;
};

// A writable store file in a folder that each test closes to new files its own way.
class LockedFolderStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testfiles::write(folder() + "/Projects.conf", "[KORU]\nSettings\\Edit1=old\n"));
    }
    void TearDown() override { ::chmod(folderPath().c_str(), 0755); }
    QString folder() const { return temp.systemDir() + "/Quillbrook"; }
    std::string folderPath() const { return folder().toStdString(); }
    void expectSaveBlamesTheFolder() {
        SettingsStore store(StoreRoot::MachineWide);
        ASSERT_TRUE(store.OpenKey(kKey, false));
        const std::string error = writeError(store, "new");
        const std::string expected = "Cannot save the settings to " + folderPath() +
                                     "/Projects.conf: the folder " + folderPath() +
                                     " is not writable (";
        EXPECT_TRUE(error.starts_with(expected)) << error;
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
    ASSERT_TRUE(
        testfiles::write(temp.systemDir() + "/Quillbrook/Projects.conf",
                         "[KORU]\nSettings\\Edit1=@ByteArray(\\0\\x1)\nSettings\\Edit2=a, b\n"
                         "Settings\\Edit3=plain\n"));
    SettingsStore store(StoreRoot::MachineWide);
    ASSERT_TRUE(store.OpenKey(kKey, false));
    EXPECT_THROW(store.ReadString("Edit1"), StoreError);
    EXPECT_THROW(store.ReadString("Edit2"), StoreError);
    EXPECT_EQ(store.ReadString("Edit3"), "plain");
}

// The format shares one parse of a file among its readers and tells only the first that it was
// damaged: every look must still say so, whoever read the file before, until it is mended.
TEST(SettingsStore, ADamagedStoreIsReportedAtEveryLook) {
    TempStore temp;
    const QString file = temp.systemDir() + "/Quillbrook/Projects.conf";
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    ASSERT_TRUE(testfiles::write(file, garbage));
    SettingsStore reader(StoreRoot::MachineWide);
    reader.OpenKey(kKey, false);
    for (int look = 0; look < 3; ++look)
        EXPECT_TRUE(platform::UnreadableStore(StoreRoot::MachineWide, kKey)
                        .endsWith("its contents are damaged."))
            << look;
    ASSERT_TRUE(testfiles::write(file, "[KORU]\nSettings\\Edit1=/srv/\n"));
    EXPECT_EQ(platform::UnreadableStore(StoreRoot::MachineWide, kKey), "") << "mended";
}

TEST(SettingsStore, WriteThatDoesNotReachTheDiskIsReportedWithFileAndReason) {
    TempStore temp;
    // A plain file where the store's folder should be: no user, root included, can write there.
    ASSERT_TRUE(testfiles::write(temp.systemDir() + "/Quillbrook", "not a folder"));
    SettingsStore store(StoreRoot::MachineWide);
    ASSERT_TRUE(store.OpenKey(kKey, true));
    const std::string error = writeError(store, "x");
    EXPECT_NE(error.find("Quillbrook/Projects.conf"), std::string::npos) << error;
    EXPECT_NE(error.find("cannot create the folder"), std::string::npos) << error;
}

TEST_F(LockedFolderStore, FolderWithoutWritePermissionIsNamedAsTheCause) {
    ASSERT_EQ(::chmod(folderPath().c_str(), 0555), 0);
    if (::access(folderPath().c_str(), W_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user (root): see the immutable case";
    expectSaveBlamesTheFolder();
}

TEST_F(LockedFolderStore, ImmutableFolderIsNamedAsTheCauseEvenForRoot) {
    const ImmutableFolder locked(folder());
    if (!locked.isSet())
        GTEST_SKIP() << "the immutable flag cannot be set here (file system or privileges)";
    expectSaveBlamesTheFolder();
}
