#include "config/HomeTool.h"

#include "support/TempStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/FileSizeLimit.h"

TEST(AddBackslash, TrimsAndEndsWithOneSeparator) {
    const std::pair<const char*, const char*> cases[] = {{"  C:\\Webbase \t", "C:\\Webbase\\"},
                                                         {"/srv/site/", "/srv/site/"},
                                                         {"D:", "D:"},
                                                         {"D:\\logs\\", "D:\\logs\\"},
                                                         {" \r\n", ""},
                                                         {"", ""}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(AddBackslash(text), expected) << '"' << text << '"';
}

struct IntCase {
    const char* text;
    int32_t expected;
};

class TrimToIntDefTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(TrimToIntDefTest, Converts) {
    EXPECT_EQ(TrimToIntDef(std::string_view(GetParam().text), -7), GetParam().expected)
        << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrimToIntDefTest,
    ::testing::Values(IntCase{"40", 40}, IntCase{"  12 \t", 12}, IntCase{"+5", 5},
                      IntCase{"-5", -5}, IntCase{"$1F", 31}, IntCase{"-$10", -16},
                      IntCase{"$FFFFFFFF", -1}, IntCase{"$100000000", -7},
                      IntCase{"2147483647", 2147483647}, IntCase{"2147483648", -7},
                      IntCase{"-2147483648", INT32_MIN}, IntCase{"-2147483649", -7},
                      IntCase{"", -7}, IntCase{"   ", -7}, IntCase{"-", -7}, IntCase{"$", -7},
                      IntCase{"12a", -7}, IntCase{"1 2", -7}, IntCase{"0x10", -7},
                      IntCase{"99999999999999999999999", -7}));

TEST(TrimToIntDef, QStringOverloadAgrees) {
    EXPECT_EQ(TrimToIntDef(QString(" 8080 "), 0), 8080);
    EXPECT_EQ(TrimToIntDef(QString("8080abc"), 3), 3);
}

TEST(MinOf, ComparesUnsigned) {
    EXPECT_EQ(MinOf(4096, 1808), 1808u);
    EXPECT_EQ(MinOf(0xFFFFFFFFu, 1), 1u);
}

TEST(AppendToFile, CreatesThenAppendsWithOptionalLineEnd) {
    QTemporaryDir dir;
    const QString name = dir.path() + "\\sub\\..\\log.txt";
    QDir().mkpath(dir.path() + "/sub");
    AppendToFile(name, "first", true);
    AppendToFile(name, "second", false);
    AppendToFile(name, "", true);
    QFile file(dir.path() + "/log.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("first\r\nsecond\r\n"));
}

TEST(AppendToFile, UnwritablePlaceWritesNothing) {
    QTemporaryDir dir;
    EXPECT_FALSE(AppendToFile(dir.path() + "/missing/folder/log.txt", "line", true));
    EXPECT_FALSE(QFile::exists(dir.path() + "/missing/folder/log.txt"));
}

// On a full disk a long line was written in part, without its line end, and the next line was
// glued to it.
TEST(AppendToFile, ALineIsWrittenWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString name = dir.path() + "/log.txt";
    ASSERT_TRUE(AppendToFile(name, "first", true));
    {
        const FileSizeLimit limit(1000);
        EXPECT_FALSE(AppendToFile(name, QByteArray(3000, 'x'), true));
    }
    EXPECT_TRUE(AppendToFile(name, "next", true));
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("first\r\nnext\r\n"));
}

TEST(RegStrings, ReadDefaultsWriteCreatesAndEmptyValueIsKept) {
    TempStore store;
    RegRoot = platform::StoreRoot::MachineWide;
    EXPECT_EQ(ReadRegString("KORU\\Settings", "Edit4", "80"), "80");
    WriteRegString("KORU\\Settings", "Edit4", "");
    EXPECT_EQ(ReadRegString("KORU\\Settings", "Edit4", "80"), "");
    WriteRegString("KORU\\Settings", "Edit1", "  /srv/www/  ");
    EXPECT_EQ(ReadRegString("KORU\\Settings", "Edit1", "x"), "  /srv/www/  ");
    EXPECT_TRUE(QFile::exists(store.systemDir() + "/Quillbrook/Projects.conf"));
    // The per-user root is a different store.
    RegRoot = platform::StoreRoot::PerUser;
    EXPECT_EQ(ReadRegString("KORU\\Settings", "Edit1", "x"), "x");
    RegRoot = platform::StoreRoot::MachineWide;
}
