// The Reach and Uploads choices as stored: what each text reads as, what a first run and an
// earlier version's store get when the value is missing, and that a save writes both.
#include "config/AccessChoices.h"
#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"

#include "support/TempStore.h"
#include "support/TestFiles.h"

#include <QFile>

#include <cctype>

#include <gtest/gtest.h>

namespace {

struct Stored {
    const char* what;
    QByteArray store; // the store file's whole text; empty for none
    ReachChoice reach;
    UploadsChoice uploads;
};

// Bytes no settings file holds: the store cannot be read.
QByteArray garbage() {
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
    return bytes;
}

class AccessChoicesTest : public ::testing::TestWithParam<Stored> {
protected:
    void SetUp() override { RegRoot = platform::StoreRoot::MachineWide; }
    QString storeFile() const { return store.systemDir() + "/Quillbrook/Projects.conf"; }
    TempStore store;
};

} // namespace

TEST_P(AccessChoicesTest, RestoresAsStoredOrByTheStoresDefault) {
    const Stored& c = GetParam();
    if (!c.store.isEmpty()) {
        ASSERT_TRUE(testfiles::write(storeFile(), c.store));
    }
    ServerSettings settings;
    MimeTable mime;
    // The opposite of what is expected, so that a value left alone shows.
    settings.Reach =
        c.reach == ReachChoice::Anywhere ? ReachChoice::ThisComputer : ReachChoice::Anywhere;
    settings.Uploads =
        c.uploads == UploadsChoice::UnderBase ? UploadsChoice::Off : UploadsChoice::UnderBase;
    RestoreSettings(settings, mime);
    EXPECT_EQ(settings.Reach, c.reach);
    EXPECT_EQ(settings.Uploads, c.uploads);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AccessChoicesTest,
    ::testing::Values(
        Stored{"a first run: the home network, the upload folder",
               {},
               ReachChoice::HomeNetwork,
               UploadsChoice::UploadFolder},
        Stored{"an earlier version's store lacks both: everybody, anywhere under the base",
               "[KORU]\nSettings\\Edit4=80\n", ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"this computer, no uploads", "[KORU]\nSettings\\Reach=0\nSettings\\Uploads=0\n",
               ReachChoice::ThisComputer, UploadsChoice::Off},
        Stored{"home network, upload folder", "[KORU]\nSettings\\Reach=1\nSettings\\Uploads=1\n",
               ReachChoice::HomeNetwork, UploadsChoice::UploadFolder},
        Stored{"anywhere, under the base", "[KORU]\nSettings\\Reach=2\nSettings\\Uploads=2\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"one stored, the other missing keeps the older store's",
               "[KORU]\nSettings\\Reach=0\n", ReachChoice::ThisComputer, UploadsChoice::UnderBase},
        Stored{"out of range", "[KORU]\nSettings\\Reach=7\nSettings\\Uploads=-1\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"empty", "[KORU]\nSettings\\Reach=\nSettings\\Uploads=\n", ReachChoice::Anywhere,
               UploadsChoice::UnderBase},
        Stored{"not a number", "[KORU]\nSettings\\Reach=x\nSettings\\Uploads=one\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"a digit with more after it", "[KORU]\nSettings\\Reach=01\nSettings\\Uploads=1x\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"quoted digits are the digits", "[KORU]\nSettings\\Reach=\"0\"\n",
               ReachChoice::ThisComputer, UploadsChoice::UnderBase},
        Stored{"a damaged store counts as an earlier version's", garbage(), ReachChoice::Anywhere,
               UploadsChoice::UnderBase}),
    [](const ::testing::TestParamInfo<Stored>& info) {
        std::string name;
        for (const char ch : std::string(info.param.what))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(AccessChoices, TextsAndCaptionsFollowTheChoicesValues) {
    for (const ReachChoice choice :
         {ReachChoice::ThisComputer, ReachChoice::HomeNetwork, ReachChoice::Anywhere})
        EXPECT_EQ(ReadReach(ChoiceText(choice)), choice);
    for (const UploadsChoice choice :
         {UploadsChoice::Off, UploadsChoice::UploadFolder, UploadsChoice::UnderBase})
        EXPECT_EQ(ReadUploads(ChoiceText(choice)), choice);
    EXPECT_EQ(ReachCaptions(), QStringList({"This computer only", "My home network", "Anywhere"}));
    EXPECT_EQ(UploadsCaptions(),
              QStringList({"No", "Into the upload folder", "Anywhere under the base folder"}));
}

TEST(AccessChoices, ASaveWritesBothAndAResetGivesTheFirstRunsOnes) {
    const TempStore store;
    RegRoot = platform::StoreRoot::MachineWide;
    ServerSettings settings;
    MimeTable mime;
    ResetSettings(settings, mime);
    EXPECT_EQ(settings.Reach, ReachChoice::HomeNetwork);
    EXPECT_EQ(settings.Uploads, UploadsChoice::UploadFolder);
    settings.Reach = ReachChoice::ThisComputer;
    settings.Uploads = UploadsChoice::Off;
    SaveSettings(settings, mime);
    QFile file(store.systemDir() + "/Quillbrook/Projects.conf");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("\nSettings\\Reach=0\n")) << content.constData();
    EXPECT_TRUE(content.contains("\nSettings\\Uploads=0\n")) << content.constData();
    ServerSettings restored;
    RestoreSettings(restored, mime);
    EXPECT_EQ(restored.Reach, ReachChoice::ThisComputer);
    EXPECT_EQ(restored.Uploads, UploadsChoice::Off);
}
