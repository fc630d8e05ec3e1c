#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "config/TodaysMime.h"

#include "support/TempStore.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { RegRoot = platform::StoreRoot::MachineWide; }
    QString storeFile() const { return store.systemDir() + "/Quillbrook/Projects.conf"; }
    void writeStore(const QByteArray& content) {
        ASSERT_TRUE(testfiles::write(storeFile(), content));
    }
    QString restoredBoxes(const QString& stored) {
        WriteRegString(kSettingsKey, "CBoxes", stored);
        RestoreSettings(settings, mime);
        return QString("%1%2%3%4")
            .arg(int(settings.ShowPeers))
            .arg(int(settings.AutoClose))
            .arg(int(settings.LogEnabled))
            .arg(int(settings.HideOnStartup));
    }

    TempStore store;
    ServerSettings settings;
    MimeTable mime;
};

} // namespace

TEST_F(SettingsTest, EmptyStoreGivesThisDesktopsDefaults) {
    const ScopedEnv home("HOME", store.path() + "/user");
    RestoreSettings(settings, mime);
    EXPECT_FALSE(SettingsStored()) << "a first run";
    EXPECT_EQ(settings.BaseFolder, store.path() + "/user/Public/");
    EXPECT_EQ(settings.BaseFileName, "index.html");
    EXPECT_EQ(settings.TempPath, "C:\\Windows\\Temp\\");
    EXPECT_EQ(settings.ListenPort, "8080");
    EXPECT_EQ(settings.PluginsPath, QCoreApplication::applicationDirPath() + "/plugins/")
        << "no installed modules beside a test: the build's folder";
    EXPECT_EQ(settings.PageHeader.get(), "<html><body bgcolor=#c0c0c0>");
    EXPECT_TRUE(settings.PageFooter.get().startsWith("<center><hr>Home page of <a href="));
    EXPECT_TRUE(settings.PageFooter.get().endsWith("</a></body></center></html>"));
    EXPECT_EQ(settings.LogFile, store.stateDir() + "/koru/KORU.Log");
    EXPECT_EQ(settings.IdleSeconds, "40");
    EXPECT_EQ(settings.UploadPath, store.path() + "/user/Public/Uploads/");
    EXPECT_EQ(settings.MasterCommand, "Be_Now_The_Chef");
    EXPECT_FALSE(settings.ShowPeers);
    EXPECT_TRUE(settings.AutoClose && settings.LogEnabled && settings.HideOnStartup);
    EXPECT_TRUE(settings.FolderPages);
    EXPECT_EQ(mime.GetMIME(), TodaysMimeText());
    EXPECT_FALSE(QFile::exists(storeFile())) << "reading never creates the store";

    ServerSettings reset;
    ResetSettings(reset, mime);
    EXPECT_EQ(reset.BaseFolder, settings.BaseFolder);
    EXPECT_EQ(reset.ListenPort, "8080");
    EXPECT_EQ(reset.LogFile, settings.LogFile);
    EXPECT_EQ(reset.BaseFileName, "index.html");
    EXPECT_TRUE(reset.FolderPages);
}

TEST_F(SettingsTest, LogDefaultsUnderHomeWithoutAnAbsoluteStateFolder) {
    const ScopedEnv home("HOME", store.path() + "/user");
    for (const char* state : {"", "relative/state"}) {
        const ScopedEnv set("XDG_STATE_HOME", state);
        EXPECT_EQ(DefaultLogFile(), store.path() + "/user/.local/state/koru/KORU.Log") << state;
    }
}

TEST_F(SettingsTest, StoredValuesKeepTheirMeaningAndASaveIsNoFirstRun) {
    writeStore("[KORU]\nSettings\\Edit1=C:\\\\Webbase\\\\\nSettings\\Edit4=80\n");
    RestoreSettings(settings, mime);
    EXPECT_TRUE(SettingsStored());
    EXPECT_EQ(settings.BaseFolder, "C:\\Webbase\\");
    EXPECT_EQ(settings.ListenPort, "80");
}

TEST_F(SettingsTest, DefaultLogFolderIsMadePrivateWhenTheLogIsFirstWritten) {
    const QString log = DefaultLogFile();
    ASSERT_FALSE(QDir(store.stateDir()).exists());
    AppendToLog(log, "first");
    AppendToLog(log, "second");
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("first\r\nsecond\r\n"));
    for (const QString& folder : {store.stateDir(), store.stateDir() + "/koru"})
        EXPECT_EQ(QFileInfo(folder).permissions().toInt() & 0x0077, 0) << folder.toStdString();

    // Another log keeps its folder as the user named it: a missing one drops the line.
    const QString elsewhere = store.path() + "/missing/koru.log";
    AppendToLog(elsewhere, "line");
    EXPECT_FALSE(QFile::exists(elsewhere));
}

TEST_F(SettingsTest, FlagTextsShortOrOddReadAsDocumented) {
    const std::pair<const char*, const char*> cases[] = {
        {"1", "1111"}, {"", "1111"}, {"10x1", "1001"}, {"0", "0111"}, {"0000", "0000"}};
    for (const auto& [stored, flags] : cases)
        EXPECT_EQ(restoredBoxes(stored), flags) << '"' << stored << '"';
}

TEST_F(SettingsTest, SaveThenRestoreKeepsEveryFieldVerbatim) {
    settings.BaseFolder = "  /srv/www/ ";
    settings.BaseFileName = "docs\\a.htm";
    settings.TempPath = "/tmp/";
    settings.ListenPort = "";
    settings.PluginsPath = " plug ins ";
    settings.PageHeader = "<html>, with comma";
    settings.PageFooter = "\"quoted\" = footer";
    settings.LogFile = "/var/log/koru.log";
    settings.IdleSeconds = "5 ";
    settings.UploadPath = "\t";
    settings.MasterCommand = "@ByteArray(looks special)";
    settings.ShowPeers = true;
    settings.AutoClose = false;
    settings.LogEnabled = true;
    settings.HideOnStartup = false;
    settings.FolderPages = true;
    settings.UploadNotices = false;
    mime.LoadMIME("\"a\"=\"b/c\"\"D\"=\"e/f\"");
    SaveSettings(settings, mime);

    ServerSettings restored;
    MimeTable restoredMime;
    RestoreSettings(restored, restoredMime);
    EXPECT_EQ(restored.BaseFolder, settings.BaseFolder);
    EXPECT_EQ(restored.BaseFileName, settings.BaseFileName);
    EXPECT_EQ(restored.TempPath, settings.TempPath);
    EXPECT_EQ(restored.ListenPort, "");
    EXPECT_EQ(restored.PluginsPath, settings.PluginsPath);
    EXPECT_EQ(restored.PageHeader.get(), settings.PageHeader.get());
    EXPECT_EQ(restored.PageFooter.get(), settings.PageFooter.get());
    EXPECT_EQ(restored.LogFile, settings.LogFile);
    EXPECT_EQ(restored.IdleSeconds, settings.IdleSeconds);
    EXPECT_EQ(restored.UploadPath, settings.UploadPath);
    EXPECT_EQ(restored.MasterCommand, settings.MasterCommand);
    EXPECT_TRUE(restored.ShowPeers);
    EXPECT_FALSE(restored.AutoClose);
    EXPECT_TRUE(restored.LogEnabled);
    EXPECT_FALSE(restored.HideOnStartup);
    EXPECT_TRUE(restored.FolderPages);
    EXPECT_FALSE(restored.UploadNotices) << "a first run's notices switched off stay off";
    EXPECT_EQ(restoredMime.GetMIME(), "\"a\"=\"b/c\"@\"D\"=\"e/f\"@");
    EXPECT_EQ(ReadRegString(kSettingsKey, "CBoxes", "?"), "1010");
}

TEST_F(SettingsTest, StoreLayoutOnDisk) {
    SaveSettings(settings, mime);
    QFile file(storeFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.startsWith("[KORU]\n"));
    for (const char* name :
         {"CBoxes", "FolderPages", "UploadNotices", "Edit1", "Edit2", "Edit3", "Edit4", "Edit6",
          "Edit10", "Edit11", "Edit12", "Edit13", "Edit14", "Edit15", "MIME"})
        EXPECT_TRUE(content.contains(QByteArray("\nSettings\\") + name + "="))
            << name << " missing in\n"
            << content.constData();
    for (const char* absent : {"Edit5=", "Edit7=", "Edit8=", "Edit9="})
        EXPECT_FALSE(content.contains(absent)) << absent;
}

TEST_F(SettingsTest, NonTextValueEndsRestoreThereAndKeepsLaterFields) {
    writeStore("[KORU]\nSettings\\CBoxes=0000\nSettings\\Edit1=/srv/\n"
               "Settings\\Edit2=@ByteArray(x)\nSettings\\Edit3=/never/read/\n");
    settings.TempPath = "untouched";
    EXPECT_THROW(RestoreSettings(settings, mime), platform::StoreError);
    EXPECT_FALSE(settings.AutoClose);
    EXPECT_EQ(settings.BaseFolder, "/srv/");
    EXPECT_EQ(settings.TempPath, "untouched");
    EXPECT_TRUE(mime.Extensions().isEmpty());
}

TEST_F(SettingsTest, EmptyStoredMimeGivesEmptyTable) {
    WriteRegString(kSettingsKey, "MIME", "");
    RestoreSettings(settings, mime);
    EXPECT_TRUE(mime.Extensions().isEmpty());
}

TEST_F(SettingsTest, SaveToUnwritableStoreFailsAndKeepsWhatWasWritten) {
    // A folder where the store file should be: the first write already fails. A plain file where
    // the per-user store's folder should be stops the save falling back there too.
    QDir().mkpath(storeFile());
    ASSERT_TRUE(testfiles::write(store.userDir() + "/Quillbrook", "not a folder"));
    try {
        SaveSettings(settings, mime);
        ADD_FAILURE() << "saving reported success";
    } catch (const platform::StoreError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(storeFile().toStdString()), std::string::npos) << what;
        EXPECT_NE(what.find((store.userDir() + "/Quillbrook/Projects.conf").toStdString()),
                  std::string::npos)
            << "both files tried are named: " << what;
    }
    RestoreSettings(settings, mime); // reading such a store falls back to the defaults silently
    EXPECT_EQ(settings.ListenPort, "8080");
}

TEST(SharedText, ReadersSeeWholeValuesWhileWritten) {
    SharedText text(QString(1000, 'a'));
    std::atomic<bool> stop = false;
    std::atomic<int> torn = 0;
    std::thread reader([&] {
        while (!stop) {
            const QString value = text.get();
            if (value.size() != 1000 || value.count(value[0]) != 1000)
                ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i)
        text = QString(1000, i % 2 ? 'a' : 'b');
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}
