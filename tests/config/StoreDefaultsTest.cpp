// Which defaults a store gets: a first run today's, an earlier version's store (and one that
// cannot be read) the old ones, value by value; and the FolderPages value as stored by hand.
#include "config/StoreDefaults.h"
#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "config/TodaysMime.h"

#include "support/TempStore.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

class StoreDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { RegRoot = platform::StoreRoot::MachineWide; }
    QString storeFile() const { return store.systemDir() + "/Quillbrook/Projects.conf"; }
    QByteArray storeContent() const {
        QFile file(storeFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Lays the store of `at` out as `kind` names it; false when that failed.
    static bool layOut(const TempStore& at, const char* kind, const QByteArray& content) {
        const QString file = at.systemDir() + "/Quillbrook/Projects.conf";
        if (QByteArray(kind) == "folder in its place")
            return QDir().mkpath(file);
        if (QByteArray(kind) == "no file")
            return true;
        return testfiles::write(file, content);
    }

    TempStore store;
    ServerSettings settings;
    MimeTable mime;
};

QByteArray garbage() {
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
    return bytes;
}

} // namespace

TEST_F(StoreDefaultsTest, FirstRunGetsTodaysDefaultsAnyOtherStoreTheOldOnes) {
    struct Case {
        const char* kind;
        QByteArray content;
        Defaults defaults;
        const char* baseFile;
        bool folderPages;
        const char* jpg; // the MIME table's type for jpg
    };
    const Case cases[] = {
        {"no file", {}, Defaults::FirstRun, "index.html", true, "image/jpeg"},
        {"empty file", {}, Defaults::FirstRun, "index.html", true, "image/jpeg"},
        {"another program's values only", "[Other]\nSettings\\Edit2=x\n[KORU]\nName=y\n",
         Defaults::FirstRun, "index.html", true, "image/jpeg"},
        {"an earlier version's values", "[KORU]\nSettings\\Edit4=80\n", Defaults::OlderStore,
         "Index.Htm", false, "image/jpg"},
        {"the flags alone", "[KORU]\nSettings\\CBoxes=0111\n", Defaults::OlderStore, "Index.Htm",
         false, "image/jpg"},
        // Holding any value at all makes it a stored store: the others keep the old defaults.
        {"FolderPages alone", "[KORU]\nSettings\\FolderPages=1\n", Defaults::OlderStore,
         "Index.Htm", true, "image/jpg"},
        {"damaged contents", garbage(), Defaults::OlderStore, "Index.Htm", false, "image/jpg"},
        {"folder in its place", {}, Defaults::OlderStore, "Index.Htm", false, "image/jpg"},
    };
    MimeTable builtIn;
    builtIn.LoadMIME(DefaultMimeText());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        // A store of its own each time: a file of the same name and size rewritten within a
        // moment is taken for unchanged and not read again.
        const TempStore own;
        ASSERT_TRUE(layOut(own, c.kind, c.content));
        EXPECT_EQ(StoreDefaults(), c.defaults);
        settings.FolderPages = !c.folderPages;
        settings.UploadNotices = c.defaults != Defaults::FirstRun;
        settings.BaseFileName = "left over";
        mime.LoadMIME("\"left\"=\"over/x\"");
        RestoreSettings(settings, mime);
        EXPECT_EQ(settings.BaseFileName, c.baseFile);
        EXPECT_EQ(settings.FolderPages, c.folderPages);
        EXPECT_EQ(settings.UploadNotices, c.defaults == Defaults::FirstRun);
        EXPECT_EQ(mime.LookupMIME("JPG"), c.jpg);
        EXPECT_EQ(mime.GetMIME(),
                  c.defaults == Defaults::FirstRun ? TodaysMimeText() : builtIn.GetMIME());
    }
}

TEST_F(StoreDefaultsTest, ResetGivesTheChosenStoresDefaultsAndAnEmptyStoresByDefault) {
    ResetSettings(settings, mime, Defaults::OlderStore);
    EXPECT_EQ(settings.BaseFileName, "Index.Htm");
    EXPECT_FALSE(settings.FolderPages);
    EXPECT_EQ(mime.Extensions().size(), 63);

    ResetSettings(settings, mime);
    EXPECT_EQ(settings.BaseFileName, "index.html");
    EXPECT_TRUE(settings.FolderPages);
    EXPECT_EQ(mime.GetMIME(), TodaysMimeText());
    EXPECT_EQ(settings.ListenPort, "8080") << "the other defaults are the same for both";
}

// "Save to registry" on a first run keeps what the window shows: the saved store is an earlier
// version's from then on, and must not fall back to the old defaults for the new values.
TEST_F(StoreDefaultsTest, AFirstRunSavedRestoresAsItWasShown) {
    RestoreSettings(settings, mime);
    SaveSettings(settings, mime);
    const QByteArray content = storeContent();
    EXPECT_TRUE(content.contains("\nSettings\\FolderPages=1\n")) << content.constData();
    EXPECT_TRUE(content.contains("\nSettings\\Edit2=index.html\n")) << content.constData();
    ASSERT_EQ(StoreDefaults(), Defaults::OlderStore);

    ServerSettings restored;
    MimeTable restoredMime;
    RestoreSettings(restored, restoredMime);
    EXPECT_TRUE(restored.FolderPages);
    EXPECT_EQ(restored.BaseFileName, "index.html");
    EXPECT_EQ(restoredMime.GetMIME(), TodaysMimeText());
}

TEST_F(StoreDefaultsTest, FolderPagesIsSavedEitherWayAndRestored) {
    for (const bool on : {true, false, true}) {
        settings.FolderPages = on;
        SaveSettings(settings, mime);
        EXPECT_TRUE(storeContent().contains(QByteArray("\nSettings\\FolderPages=") +
                                            (on ? "1" : "0") + "\n"));
        ServerSettings restored;
        restored.FolderPages = !on;
        RestoreSettings(restored, mime);
        EXPECT_EQ(restored.FolderPages, on);
    }
}

// Only "1" shows folder contents: any other text a hand may leave there shows less, never more.
TEST_F(StoreDefaultsTest, HandEditedFolderPagesReadsAsOnOnlyForOne) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true},
        {"0", false},
        {"", false},
        {"yes", false},
        {"true", false},
        {"on", false},
        {"01", false},
        {"2", false},
        {"-1", false},
        {"1x", false},
        {"\" 1\"", false},
        {"\"1\"", true},
        {"  1  ", true} /* unquoted blanks are not part of the value */,
    };
    for (const auto& [stored, on] : cases) {
        // A store of its own each time: a file of the same name and size rewritten within a
        // moment is taken for unchanged and not read again.
        const TempStore own;
        ASSERT_TRUE(testfiles::write(own.systemDir() + "/Quillbrook/Projects.conf",
                                     QByteArray("[KORU]\nSettings\\FolderPages=") + stored + "\n"));
        settings.FolderPages = !on;
        RestoreSettings(settings, mime);
        EXPECT_EQ(settings.FolderPages, on) << '"' << stored << '"';
    }
    ASSERT_TRUE(testfiles::write(storeFile(), "[KORU]\nSettings\\FolderPages=1,1\n"));
    EXPECT_THROW(RestoreSettings(settings, mime), platform::StoreError) << "a list is not text";
}
