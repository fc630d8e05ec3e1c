#include "platform/SettingsStore.h"

#include "support/TempStore.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

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
