// Today's MIME table and the button's addition of it to a table that lacks some of its types.
#include "config/TodaysMime.h"
#include "config/MimeTable.h"

#include <QSet>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

MimeTable tableOf(const QString& text) {
    MimeTable table;
    table.LoadMIME(text);
    return table;
}

MimeTable todays() {
    return tableOf(TodaysMimeText());
}

qsizetype entriesOf(const MimeTable& table, const QString& extension) {
    return std::count_if(
        table.Extensions().begin(), table.Extensions().end(),
        [&](const QString& e) { return e.compare(extension, Qt::CaseInsensitive) == 0; });
}

} // namespace

TEST(TodaysMime, IsValidStoredTextThatLoadsWholeAndWritesBackTheSame) {
    const MimeTable table = todays();
    EXPECT_EQ(table.GetMIME(), TodaysMimeText()) << "an \"@\" after each pair, as saved";
    EXPECT_EQ(TodaysMimeText().count('@'), table.Extensions().size());
    QSet<QString> seen;
    for (const QString& extension : table.Extensions()) {
        EXPECT_EQ(extension, extension.toLower()) << "typed as a file name carries it";
        EXPECT_FALSE(extension.contains('.')) << extension.toStdString();
        EXPECT_FALSE(seen.contains(extension)) << "twice: " << extension.toStdString();
        seen.insert(extension);
    }
}

TEST(TodaysMime, HoldsTheRegisteredTypesOfTodaysFiles) {
    const MimeTable table = todays();
    const QString utf8 = "; charset=utf-8";
    const std::pair<const char*, QString> cases[] = {
        {"html", "text/html" + utf8},
        {"htm", "text/html" + utf8},
        {"css", "text/css" + utf8},
        {"js", "text/javascript" + utf8},
        {"mjs", "text/javascript" + utf8},
        {"json", "application/json"},
        {"txt", "text/plain" + utf8},
        {"md", "text/markdown" + utf8},
        {"csv", "text/csv" + utf8},
        {"xml", "application/xml"},
        {"svg", "image/svg+xml"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"avif", "image/avif"},
        {"heic", "image/heic"},
        {"ico", "image/vnd.microsoft.icon"},
        {"bmp", "image/bmp"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"aac", "audio/aac"},
        {"ogg", "audio/ogg"},
        {"oga", "audio/ogg"},
        {"opus", "audio/ogg"},
        {"flac", "audio/flac"},
        {"wav", "audio/wav"},
        {"mp4", "video/mp4"},
        {"m4v", "video/mp4"},
        {"mov", "video/quicktime"},
        {"webm", "video/webm"},
        {"mkv", "video/x-matroska"},
        {"ogv", "video/ogg"},
        {"pdf", "application/pdf"},
        {"zip", "application/zip"},
        {"gz", "application/gzip"},
        {"tar", "application/x-tar"},
        {"7z", "application/x-7z-compressed"},
        {"epub", "application/epub+zip"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"ttf", "font/ttf"},
        {"otf", "font/otf"},
        {"doc", "application/msword"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xls", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"odt", "application/vnd.oasis.opendocument.text"},
        {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
        {"odp", "application/vnd.oasis.opendocument.presentation"},
        {"apk", "application/vnd.android.package-archive"},
        {"iso", "application/x-iso9660-image"},
        {"wasm", "application/wasm"},
    };
    for (const auto& [extension, type] : cases)
        EXPECT_EQ(table.LookupMIME(extension), type) << extension;
    EXPECT_EQ(table.Extensions().size(), std::size(cases)) << "every entry is checked above";
}

TEST(TodaysMime, TextTypesAndOnlyTheyCarryTheCharset) {
    const MimeTable table = todays();
    for (const QString& type : table.ContentTypes())
        EXPECT_EQ(type.startsWith("text/"), type.endsWith("; charset=utf-8")) << type.toStdString();
}

// Workers look types up in the published copy, with the extension as the request wrote it.
TEST(TodaysMime, LookupsIgnoreCaseInTheTableAndInWhatWorkersRead) {
    const MimeTable table = todays();
    const auto published = table.Published();
    const std::pair<const char*, const char*> cases[] = {
        {"PNG", "image/png"},
        {"Json", "application/json"},
        {"TXT", "text/plain; charset=utf-8"},
        {"WebP", "image/webp"},
        {"exe", ""},
    };
    for (const auto& [extension, type] : cases) {
        EXPECT_EQ(table.LookupMIME(extension), type) << extension;
        EXPECT_EQ(published->Lookup(extension), type) << extension;
    }
}

TEST(AddTodaysTypes, AddsWhatAnEarlierTableLacksAndChangesNothingItHas) {
    MimeTable table = tableOf(DefaultMimeText());
    const QStringList oldLines = table.Lines();
    const QStringList oldTypes = table.ContentTypes();
    const MimeTable today = todays();
    QStringList missing;
    for (const QString& extension : today.Extensions())
        if (table.LookupMIME(extension).isEmpty())
            missing.append(extension);
    ASSERT_FALSE(missing.isEmpty());
    ASSERT_TRUE(missing.contains("png"));
    ASSERT_FALSE(missing.contains("jpg")) << "the built-in table has its own";

    int changes = 0;
    table.OnChanged = [&changes] { ++changes; };
    EXPECT_EQ(table.AddTodaysTypes(), missing.size());
    EXPECT_EQ(changes, 1) << "shown once, not once per line";
    EXPECT_EQ(table.Lines().mid(0, oldLines.size()), oldLines);
    EXPECT_EQ(table.ContentTypes().mid(0, oldTypes.size()), oldTypes);
    EXPECT_EQ(table.Extensions().mid(oldLines.size()), missing) << "in today's order, at the end";
    EXPECT_EQ(table.LookupMIME("jpg"), "image/jpg") << "the user's type stays";
    EXPECT_EQ(table.LookupMIME("js"), "bws-internal/intrasrv-javascript");
    for (const QString& extension : missing)
        EXPECT_EQ(table.LookupMIME(extension), today.LookupMIME(extension))
            << extension.toStdString();
    EXPECT_EQ(table.Published()->Lookup("webp"), "image/webp") << "workers see them at once";
    EXPECT_EQ(table.Selected(), oldLines.size()) << "the first added line";
    EXPECT_EQ(table.Edit5(), today.LookupMIME(missing[0]));
    EXPECT_TRUE(table.DropEnabled());

    const QString once = table.GetMIME();
    const auto published = table.Published();
    EXPECT_EQ(table.AddTodaysTypes(), 0);
    EXPECT_EQ(table.GetMIME(), once);
    EXPECT_EQ(table.Published(), published) << "nothing new to publish";
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(tableOf(once).GetMIME(), once) << "saved and restored, as it stands";
}

TEST(AddTodaysTypes, AnExtensionTheTableHasInAnyCaseKeepsItsType) {
    MimeTable table = tableOf("\"PNG\"=\"image/x-custom\"\"Html\"=\"text/html\"");
    table.AddTodaysTypes();
    EXPECT_EQ(table.LookupMIME("png"), "image/x-custom");
    EXPECT_EQ(table.LookupMIME("html"), "text/html");
    EXPECT_EQ(entriesOf(table, "png"), 1);
    EXPECT_EQ(entriesOf(table, "html"), 1);
    EXPECT_EQ(table.Extensions().size(), todays().Extensions().size());
}

TEST(AddTodaysTypes, OnAnEmptyTableGivesTodaysTable) {
    MimeTable table;
    EXPECT_EQ(table.AddTodaysTypes(), todays().Extensions().size());
    EXPECT_EQ(table.GetMIME(), TodaysMimeText());
    EXPECT_EQ(table.Selected(), 0);
}

TEST(AddMissing, TakesPairsAsLoadingDoesAndTheFirstOfADuplicate) {
    MimeTable table = tableOf("\"a\"=\"x/1\"");
    // Loading stops at an empty token; the pairs after it are not read.
    EXPECT_EQ(
        table.AddMissing("\"A\"=\"x/9\"@\"b\"=\"x/2\"@\"B\"=\"x/3\"@\"\"=\"x/4\"@\"c\"=\"x/5\""),
        1);
    EXPECT_EQ(table.GetMIME(), "\"a\"=\"x/1\"@\"b\"=\"x/2\"@");
    EXPECT_EQ(table.AddMissing(""), 0);
    EXPECT_EQ(table.AddMissing("\"d\"=\"x/6"), 0) << "a pair without its closing quote";
}
