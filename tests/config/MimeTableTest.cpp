#include "config/MimeTable.h"

#include <gtest/gtest.h>

namespace {

MimeTable defaultTable() {
    MimeTable table;
    table.LoadMIME(DefaultMimeText());
    return table;
}

MimeTable tableOf(const char* text) {
    MimeTable table;
    table.LoadMIME(text);
    return table;
}

} // namespace

TEST(MimeDefault, HoldsTheSixtyThreePairsInStoredOrder) {
    const MimeTable table = defaultTable();
    const QStringList expected = QString("ai aif aifc aiff au avi bin bmp cpio csh doc dvi eps exe "
                                         "gif gtar gz hpx htm html ief jpe jpeg jpg js latex ls "
                                         "mocha mov mpe mpeg mpg pac pbm pgm pnm ppm ps qt ras rgb "
                                         "rtf sh shar sit snd tar tcl tex texi texinfo text tif "
                                         "tiff txt wav xbm xpm xwd zip jfm jrp isv")
                                     .split(' ');
    EXPECT_EQ(table.Extensions(), expected);
    EXPECT_EQ(table.LookupMIME("bmp"), "image/x-MS-bmp");
    EXPECT_EQ(table.LookupMIME("jpeg"), "image/jpg");
    EXPECT_EQ(table.LookupMIME("isv"), "bws-internal/intrasrv-urlencoded");
    EXPECT_EQ(table.Lines().at(18), "htm --> text/html");
    // The first 33 pairs carry no separator, each of the last 30 an "@".
    EXPECT_EQ(DefaultMimeText().count('@'), 30);
    EXPECT_TRUE(DefaultMimeText().contains("\"pac\"=\"application/x-ns-proxy-autoconfig\"\"pbm\""));
    EXPECT_TRUE(DefaultMimeText().endsWith("\"isv\"=\"bws-internal/intrasrv-urlencoded\"@"));
}

TEST(MimeText, RoundTripAndSeparatorsLoadAlike) {
    const MimeTable table = defaultTable();
    const MimeTable again = tableOf(table.GetMIME().toLatin1().constData());
    EXPECT_EQ(again.Extensions(), table.Extensions());
    EXPECT_EQ(again.ContentTypes(), table.ContentTypes());
    EXPECT_EQ(tableOf("\"a\"=\"x/1\"@\"b\"=\"x/2\"@").GetMIME(),
              tableOf("\"a\"=\"x/1\"\"b\"=\"x/2\"").GetMIME());
    EXPECT_EQ(MimeTable().GetMIME(), "");
}

TEST(MimeText, EmptyTokenEndsTheTable) {
    EXPECT_EQ(tableOf("\"a\"=\"x/1\"\"b\"=\"x/2\"\"\"=\"x/3\"\"d\"=\"x/4\"").Extensions(),
              QStringList({"a", "b"}));
    EXPECT_EQ(tableOf("\"a\"=\"\"\"b\"=\"x/2\"").Extensions().size(), 0);
}

TEST(MimeText, LaterDuplicateReplacesTypeAndKeepsPlace) {
    const MimeTable table = tableOf("\"a\"=\"x/1\"\"b\"=\"x/2\"\"A\"=\"x/3\"");
    EXPECT_EQ(table.Extensions(), QStringList({"a", "b"}));
    EXPECT_EQ(table.LookupMIME("a"), "x/3");
    EXPECT_EQ(table.Lines().at(0), "A --> x/3");
}

TEST(MimeText, MalformedTextNeverReadsPastTheEndAndEndsTheTable) {
    EXPECT_EQ(tableOf("\"a\"=\"x/1\"\"b\"=\"text/ht").Extensions(), QStringList({"a"}));
    EXPECT_EQ(tableOf("\"a\"=\"x/1\"\"b").Extensions(), QStringList({"a"}));
    EXPECT_EQ(tableOf("\"a\"=\"x/1\"\"").Extensions(), QStringList({"a"}));
    EXPECT_EQ(tableOf("\"").Extensions().size(), 0);
    EXPECT_EQ(tableOf("no quotes at all").Extensions().size(), 0);
}

struct QuotedCase {
    const char* text;
    const char* token;
    const char* rest;
};

class NextQuotedTest : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(NextQuotedTest, TakesTokenOffTheFront) {
    QString text = GetParam().text;
    EXPECT_EQ(MimeTable::NextQuoted(text), GetParam().token) << GetParam().text;
    EXPECT_EQ(text, GetParam().rest) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NextQuotedTest,
    ::testing::Values(QuotedCase{"\"htm\"=\"text/html\"", "htm", "=\"text/html\""},
                      QuotedCase{"=\"text/html\"@", "text/html", "@"}, QuotedCase{"@", "", ""},
                      QuotedCase{"", "", ""}, QuotedCase{"\"\"x", "", "x"},
                      QuotedCase{"\"abc", "", ""}, QuotedCase{"ab", "", ""}));

TEST(MimeLookup, IgnoresLetterCase) {
    const MimeTable table = defaultTable();
    EXPECT_EQ(table.LookupMIME("HTM"), "text/html");
    EXPECT_EQ(table.LookupMIME("Htm"), "text/html");
    EXPECT_EQ(table.LookupMIME("htm"), "text/html");
    EXPECT_EQ(table.LookupMIME("nope"), "");
    EXPECT_EQ(table.LookupMIME(""), "");
}

TEST(MimeEdit, SetWithOtherCaseShowsItButStoresTheFirst) {
    MimeTable table = defaultTable();
    table.SetMIME("GIF", "image/x-gif");
    EXPECT_EQ(table.Lines().at(14), "GIF --> image/x-gif");
    EXPECT_EQ(table.Extensions().at(14), "gif");
    EXPECT_TRUE(table.GetMIME().contains("\"gif\"=\"image/x-gif\"@"));
    EXPECT_EQ(table.Selected(), 14);
}

TEST(MimeEdit, AddExistingChangesTypeAddNewAppendsSelected) {
    MimeTable table = defaultTable();
    table.AddBtnClick("gif");
    EXPECT_EQ(table.Extensions().size(), 63);
    EXPECT_EQ(table.LookupMIME("gif"), "type/info");
    EXPECT_EQ(table.Extensions().indexOf("gif"), 14);
    table.AddBtnClick("ext");
    EXPECT_EQ(table.Extensions().size(), 64);
    EXPECT_EQ(table.Selected(), 63);
    EXPECT_EQ(table.Edit5(), "type/info");
    EXPECT_FALSE(table.ChangeEnabled());
}

TEST(MimeEdit, AddTakesAnExtensionTypedWithItsDotWithoutIt) {
    MimeTable table = defaultTable();
    table.AddBtnClick(".md");
    EXPECT_EQ(table.Extensions().last(), "md");
    EXPECT_EQ(table.LookupMIME("md"), "type/info") << "a request for a.md finds it";
    EXPECT_EQ(table.Lines().last(), "md --> type/info");
    table.AddBtnClick(".GIF");
    EXPECT_EQ(table.Extensions().size(), 64) << "the dotted name of a present one changes it";
    EXPECT_EQ(table.LookupMIME("gif"), "type/info");
    EXPECT_THROW(table.AddBtnClick("."), EMimeError) << "nothing is left of a dot alone";
    EXPECT_EQ(table.Extensions().size(), 64);
}

TEST(MimeEdit, DropsMoveSelectionAndEmptyTableShowsHint) {
    MimeTable table = tableOf("\"a\"=\"x/1\"\"b\"=\"x/2\"\"c\"=\"x/3\"");
    table.Select(2);
    table.DropBtnClick();
    EXPECT_EQ(table.Selected(), 1);
    EXPECT_EQ(table.Edit5(), "x/2");
    table.DropMIME("missing");
    EXPECT_EQ(table.Extensions().size(), 2);
    table.DropMIME("A");
    table.DropMIME("b");
    EXPECT_TRUE(table.Lines().isEmpty());
    EXPECT_FALSE(table.DropEnabled());
    EXPECT_EQ(table.Edit5(), MimeTable::kEmptyHint);
    EXPECT_EQ(MimeTable::kEmptyHint, "Click Add to add some items...");
}

TEST(MimeEdit, ChangeIsEnabledOnlyByEditingAndAppliesToSelection) {
    MimeTable table = tableOf("\"a\"=\"x/1\"\"b\"=\"x/2\"");
    EXPECT_EQ(table.Selected(), 0);
    EXPECT_FALSE(table.ChangeEnabled());
    table.Edit5Change("");
    EXPECT_FALSE(table.ChangeEnabled());
    table.Edit5Change("x/9");
    EXPECT_TRUE(table.ChangeEnabled());
    table.ChangeBtnClick();
    EXPECT_EQ(table.LookupMIME("a"), "x/9");
    EXPECT_FALSE(table.ChangeEnabled());

    MimeTable empty;
    empty.LoadMIME("");
    empty.Edit5Change("typed");
    EXPECT_FALSE(empty.ChangeEnabled());
    EXPECT_FALSE(empty.DropEnabled());
    EXPECT_EQ(empty.Edit5(), "typed");
}

TEST(MimeEdit, RefusesWhatTheStoredFormatCannotCarry) {
    MimeTable table = tableOf("\"a\"=\"x/1\"");
    int changes = 0;
    table.OnChanged = [&] { ++changes; };
    EXPECT_THROW(table.SetMIME("", "x/2"), EMimeError);
    EXPECT_THROW(table.SetMIME("b", ""), EMimeError);
    EXPECT_THROW(table.SetMIME("b\"c", "x/2"), EMimeError);
    EXPECT_THROW(table.SetMIME("a", "x\"y"), EMimeError);
    table.Edit5Change("bad\"type");
    EXPECT_THROW(table.ChangeBtnClick(), EMimeError);
    EXPECT_EQ(table.GetMIME(), "\"a\"=\"x/1\"@");
    EXPECT_EQ(changes, 1) << "only the edit of the type field changed the model";
}

// Workers read the table as the UI thread last published it: a copy that later changes leave as
// it was, and a load is published only whole.
TEST(MimePublished, EachChangePublishesAWholeCopyThatLaterChangesLeaveAlone) {
    MimeTable table;
    EXPECT_EQ(table.Published()->Lookup("htm"), "");
    table.LoadMIME(DefaultMimeText());
    const std::shared_ptr<const MimeTypes> loaded = table.Published();
    EXPECT_EQ(loaded->Lookup("HTM"), "text/html") << "any letter case";
    EXPECT_EQ(loaded->Lookup("isv"), "bws-internal/intrasrv-urlencoded") << "the last pair too";

    table.SetMIME("htm", "text/x-changed");
    table.DropMIME("gif");
    EXPECT_EQ(table.Published()->Lookup("htm"), "text/x-changed");
    EXPECT_EQ(table.Published()->Lookup("gif"), "");
    EXPECT_EQ(loaded->Lookup("htm"), "text/html") << "a published copy never changes";
    EXPECT_EQ(loaded->Lookup("gif"), "image/gif");

    const MimeTable copy = table;
    EXPECT_EQ(copy.Published()->Lookup("htm"), "text/x-changed");
    EXPECT_EQ(table.Published()->Lookup("\xe9t\xe9"), "");
    table.SetMIME(QString::fromLatin1("\xe9t\xe9"), "text/latin");
    EXPECT_EQ(table.Published()->Lookup("\xc9T\xc9"), "text/latin")
        << "Latin-1 extensions match as the editor's lookup does";
}
