// The Reach and Uploads values as stored: each text, and what a first run and an earlier
// version's store (a damaged one too) get when a value is missing or out of range.
#include "config/AccessChoices.h"
#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/ServerSettings.h"

#include "support/TempStore.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace {

struct Stored {
    const char* what;
    QByteArray store; // the store file's whole text; empty for none
    ReachChoice reach;
    UploadsChoice uploads;
};

void PrintTo(const Stored& row, std::ostream* out) {
    *out << row.what;
}

QByteArray garbage() {
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
    return bytes;
}

class AccessChoicesTest : public ::testing::TestWithParam<Stored> {
protected:
    TempStore store;
};

} // namespace

TEST_P(AccessChoicesTest, RestoresAsStoredOrByTheStoresDefault) {
    const Stored& c = GetParam();
    RegRoot = platform::StoreRoot::MachineWide;
    if (!c.store.isEmpty()) {
        ASSERT_TRUE(testfiles::write(store.systemDir() + "/Quillbrook/Projects.conf", c.store));
    }
    ServerSettings settings;
    MimeTable mime;
    // Neither expected value, so that a value left alone shows.
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
        Stored{"first run", {}, ReachChoice::HomeNetwork, UploadsChoice::UploadFolder},
        Stored{"earlier store lacks both", "[KORU]\nSettings\\Edit4=80\n", ReachChoice::Anywhere,
               UploadsChoice::UnderBase},
        Stored{"zeros", "[KORU]\nSettings\\Reach=0\nSettings\\Uploads=0\n",
               ReachChoice::ThisComputer, UploadsChoice::Off},
        Stored{"ones", "[KORU]\nSettings\\Reach=1\nSettings\\Uploads=1\n", ReachChoice::HomeNetwork,
               UploadsChoice::UploadFolder},
        Stored{"one stored, the other missing", "[KORU]\nSettings\\Reach=\"0\"\n",
               ReachChoice::ThisComputer, UploadsChoice::UnderBase},
        Stored{"out of range", "[KORU]\nSettings\\Reach=7\nSettings\\Uploads=-1\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"empty and letters", "[KORU]\nSettings\\Reach=\nSettings\\Uploads=x\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"a digit and more", "[KORU]\nSettings\\Reach=01\nSettings\\Uploads=1x\n",
               ReachChoice::Anywhere, UploadsChoice::UnderBase},
        Stored{"damaged store", garbage(), ReachChoice::Anywhere, UploadsChoice::UnderBase}));
