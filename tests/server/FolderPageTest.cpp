// The folder page read from real folders: which entries it lists and in what order, how every
// name becomes a link that reaches it and text that stays text, and the page parts around them.
#include "server/FolderPage.h"

#include "server/Percent.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// 2026-12-10 15:07 UTC.
constexpr std::time_t kTime = 1796915220;

class FolderPage : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString() + "/";
    }

    // A file of `size` bytes (sparse: size costs nothing) modified at `when`.
    void file(const std::string& name, int64_t size = 0, std::time_t when = kTime) {
        const std::string path = root + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << path;
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        touch(path, when);
    }
    void folder(const std::string& name, std::time_t when = kTime) {
        ASSERT_EQ(::mkdir((root + name).c_str(), 0755), 0) << name;
        touch(root + name, when);
    }
    void link(const std::string& target, const std::string& name) {
        ASSERT_EQ(::symlink(target.c_str(), (root + name).c_str()), 0) << name;
    }
    static void touch(const std::string& path, std::time_t when) {
        const timespec times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    }
    std::string page(std::string_view at = "/sub/", const std::string& leaveOut = {}) {
        const std::optional<std::string> text = folderpage::Page(root, at, leaveOut);
        EXPECT_TRUE(text.has_value());
        return text.value_or("");
    }

    QTemporaryDir dir;
    std::string root;
};

// The text after each `open` up to the next `close`, in page order (a plain scan: a regular
// expression over a page of 10,000 rows would be slow under the sanitizers).
std::vector<std::string> all(const std::string& page, const std::string& open, char close) {
    std::vector<std::string> found;
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at)) {
        at += open.size();
        const size_t end = page.find(close, at);
        found.push_back(page.substr(at, end - at));
    }
    return found;
}
std::vector<std::string> hrefs(const std::string& page) {
    return all(page, "<a href=\"", '"');
}
// The shown names of the entries (not the parent link's text).
std::vector<std::string> shown(const std::string& page) {
    std::vector<std::string> names = all(page, "<span class=\"n\">", '<');
    names.erase(names.begin()); // the heading row
    if (!names.empty() && names.front() == "Parent folder")
        names.erase(names.begin());
    return names;
}

TEST_F(FolderPage, FoldersComeFirstThenFilesEachByNameWithoutRegardToCase) {
    for (const char* name : {"b.txt", "A.txt", "a.txt", "C.txt", "10.txt", "2.txt", "Zeta",
                             "\xC3\x89t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9 2.txt"})
        file(name);
    for (const char* name : {"music", "Photos", "archive"})
        folder(name);
    EXPECT_THAT(shown(page()), ElementsAre("archive", "music", "Photos", "10.txt", "2.txt", "A.txt",
                                           "a.txt", "b.txt", "C.txt", "Zeta",
                                           "\xC3\xA9t\xC3\xA9 2.txt", "\xC3\x89t\xC3\xA9.txt"));
}

TEST(FolderPageSort, TheOrderDoesNotDependOnTheOrderRead) {
    using folderpage::Entry;
    std::vector<Entry> forward{{"a", false},    {"A", false},    {"b", true},
                               {"\xFF", false}, {"\xFE", false}, {"B", true}};
    std::vector<Entry> backward(forward.rbegin(), forward.rend());
    folderpage::Sort(forward);
    folderpage::Sort(backward);
    std::vector<std::string> names;
    for (size_t i = 0; i < forward.size(); ++i) {
        EXPECT_EQ(forward[i].name, backward[i].name) << i;
        names.push_back(forward[i].name);
    }
    // Same folded key: the bytes decide, so "A" (0x41) before "a" (0x61), 0xFE before 0xFF.
    EXPECT_THAT(names, ElementsAre("B", "b", "A", "a", "\xFE", "\xFF"));
}

struct NameCase {
    const char* name;
    const char* href;
    const char* text;
};

TEST_F(FolderPage, EveryNameLinksByItsBytesAndShowsAsText) {
    const NameCase cases[] = {
        {"<b>&\"", "%3Cb%3E%26%22", "&lt;b&gt;&amp;&quot;"},
        {"my holiday.jpg", "my%20holiday.jpg", "my holiday.jpg"},
        {"caf\xC3\xA9.txt", "caf%C3%A9.txt", "caf\xC3\xA9.txt"},
        {"song #1.mp3", "song%20%231.mp3", "song #1.mp3"},
        {"what?.txt", "what%3F.txt", "what?.txt"},
        {"100%.txt", "100%25.txt", "100%.txt"},
        {"it's+fine", "it%27s%2Bfine", "it's+fine"},
        {"a:b", "a%3Ab", "a:b"},
        {"latin1 \xE9t\xE9", "latin1%20%E9t%E9", "latin1 \xEF\xBF\xBDt\xEF\xBF\xBD"},
        {"tab\there", "tab%09here", "tab\xE2\x90\x89here"},
        {"new\nline", "new%0Aline", "new\xE2\x90\x8Aline"},
    };
    for (const NameCase& c : cases)
        file(c.name);
    const std::string text = page();
    for (const NameCase& c : cases) {
        const std::string row =
            std::string("<a href=\"") + c.href + "\"><span class=\"n\">" + c.text + "</span>";
        EXPECT_THAT(text, HasSubstr(row)) << c.name;
        EXPECT_EQ(percent::Decode(c.href), c.name);
    }
    EXPECT_THAT(text, Not(HasSubstr("<b>")));
}

TEST(FolderPageText, ShownNameKeepsWellFormedUtf8AndMarksEveryOtherByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"\xF0\x9F\x93\xB7 photo", "\xF0\x9F\x93\xB7 photo"},     // four bytes
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // cut short
        {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong NUL
        {"\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // overlong "/"
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // a surrogate
        {"\xF4\x90\x80\x80", std::string(4, '?')},                // above U+10FFFF
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},                 // U+10FFFF itself
        {std::string("a\0b", 3), "a\xE2\x90\x80"
                                 "b"},
        {"del\x7F", "del\xE2\x90\xA1"},
        {"\x80x", "\xEF\xBF\xBDx"},
        {"<&>\"", "&lt;&amp;&gt;&quot;"},
    };
    for (const auto& [name, expected] : cases) {
        std::string want = expected;
        if (want == std::string(4, '?'))
            want = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
        EXPECT_EQ(folderpage::ShownName(name), want) << percent::EncodePath(name);
    }
}

TEST_F(FolderPage, DotFilesTheLeftOutFileAndWhatCannotBeFetchedAreNotListed) {
    file("kept.txt");
    file(".hidden");
    folder(".git");
    file("koru.log");
    link("koru.log", "log-link");
    link("missing-target", "dangling");
    link("dangling-b", "dangling-a");
    link("dangling-a", "dangling-b"); // a loop
    ASSERT_EQ(::mkfifo((root + "pipe").c_str(), 0644), 0);
    // The log named by another spelling of its path still matches: identity, not text.
    const std::string spelled = root + "./.git/../koru.log";
    const std::string text = page("/sub/", spelled);
    EXPECT_THAT(hrefs(text), ElementsAre("../", "kept.txt"));
    // Without a file to leave out, the log and the link to it are there.
    EXPECT_THAT(hrefs(page("/sub/")), ElementsAre("../", "kept.txt", "koru.log", "log-link"));
}

TEST_F(FolderPage, PhotosVideosAndSoundsAreMarkedByTheirExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"IMG_1.JPG", "f im"}, {"b.heic", "f im"}, {"clip.mp4", "f vi"}, {"film.MKV", "f vi"},
        {"song.flac", "f au"}, {"notes.txt", "f"}, {"jpg", "f"},         {"x.jpg.txt", "f"},
        {".jpg.", "-"},        {"pics.jpg", "d"},
    };
    for (const auto& [name, kind] : cases)
        if (std::string_view(kind) == "d")
            folder(name);
        else
            file(name);
    const std::string text = page();
    for (const auto& [name, kind] : cases)
        if (std::string_view(kind) != "-") {
            const std::string start = std::string("<li class=\"") + kind + "\"><a href=\"" + name +
                                      (std::string_view(kind) == "d" ? "/" : "") + "\">";
            EXPECT_THAT(text, HasSubstr(start)) << name;
        }
}

TEST_F(FolderPage, LinksAreFollowedToWhatTheyName) {
    folder("real");
    file("big.bin", 1234567, kTime + 60);
    link("real", "to-folder");
    link("big.bin", "to-file");
    const std::string text = page();
    EXPECT_THAT(hrefs(text), ElementsAre("../", "real/", "to-folder/", "big.bin", "to-file"));
    EXPECT_THAT(text, HasSubstr("<a href=\"to-file\"><span class=\"n\">to-file</span><span "
                                "class=\"s\">1.2 MB</span><span class=\"t\">2026-12-10 15:08"));
    EXPECT_THAT(text, HasSubstr("<a href=\"real/\"><span class=\"n\">real</span><span "
                                "class=\"s\"></span><span class=\"t\">2026-12-10 15:07"));
}

TEST_F(FolderPage, TheParentLinkIsThereBelowTheTopOnly) {
    file("x");
    const std::pair<const char*, bool> cases[] = {
        {"/", false}, {"", false}, {"/music/", true}, {"/a/b/c/", true}};
    for (const auto& [at, parent] : cases)
        EXPECT_EQ(page(at).find("href=\"../\"") != std::string::npos, parent) << at;
}

TEST_F(FolderPage, ThePageIsWholeAndNamesTheFolder) {
    folder("one");
    file("a");
    file("b");
    const std::string text = page("/<m\xC3\xBCsic>\xFF/");
    EXPECT_THAT(text, HasSubstr("<title>/&lt;m\xC3\xBCsic&gt;\xEF\xBF\xBD/</title>"));
    EXPECT_THAT(text, HasSubstr("<h1>/&lt;m\xC3\xBCsic&gt;\xEF\xBF\xBD/</h1>"));
    EXPECT_THAT(text, HasSubstr("<meta name=\"viewport\""));
    EXPECT_THAT(text, HasSubstr("prefers-color-scheme:dark"));
    EXPECT_THAT(text, HasSubstr("1 folder, 2 files"));
    EXPECT_THAT(text, Not(HasSubstr("<script")));
    EXPECT_TRUE(text.starts_with("<!DOCTYPE html>"));
    EXPECT_TRUE(text.ends_with("</html>\n"));
}

TEST_F(FolderPage, AnEmptyFolderSaysSo) {
    file(".only-hidden");
    const std::string text = page();
    EXPECT_THAT(hrefs(text), ElementsAre("../"));
    EXPECT_THAT(text, HasSubstr("This folder is empty."));
}

TEST_F(FolderPage, AFolderThatCannotBeReadGivesNoPage) {
    file("plain.txt");
    folder("locked");
    ASSERT_EQ(::chmod((root + "locked").c_str(), 0), 0);
    const std::string cases[] = {root + "missing/", root + "plain.txt/", root + "plain.txt", ""};
    for (const std::string& path : cases)
        EXPECT_FALSE(folderpage::Page(path, "/x/", {}).has_value()) << path;
    // Permissions do not stop the superuser, so the locked folder tells only for other users.
    if (::geteuid() != 0) {
        EXPECT_FALSE(folderpage::Page(root + "locked/", "/locked/", {}).has_value());
    }
    ::chmod((root + "locked").c_str(), 0755);
}

TEST(FolderPageSize, HumanSizes) {
    const std::pair<int64_t, const char*> cases[] = {
        {-5, "0 B"},
        {0, "0 B"},
        {1, "1 B"},
        {999, "999 B"},
        {1000, "1.0 kB"},
        {1049, "1.0 kB"},
        {1050, "1.1 kB"},
        {1234, "1.2 kB"},
        {99949, "99.9 kB"},
        {99950, "100 kB"},
        {999499, "999 kB"},
        {999500, "1.0 MB"},
        {3400000, "3.4 MB"},
        {5600000000, "5.6 GB"},
        {999950000000, "1.0 TB"},
        {INT64_MAX, "9.2 EB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(folderpage::HumanSize(bytes), text) << bytes;
}

TEST_F(FolderPage, LocalTimeToTheMinute) {
    EXPECT_EQ(folderpage::LocalTime(kTime), "2026-12-10 15:07");
    EXPECT_EQ(folderpage::LocalTime(0), "1970-01-01 00:00");
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
    EXPECT_EQ(folderpage::LocalTime(kTime + 59), "2026-12-10 16:07");
}

TEST_F(FolderPage, TenThousandEntriesAreAllListedInOrder) {
    constexpr int kCount = 10000;
    std::vector<std::string> expected{"../"};
    for (int i = 0; i < kCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file-%05d.txt", i);
        expected.push_back(name);
    }
    // Made in reverse, so that the folder's own order is not already the page's.
    for (int i = kCount; i-- > 0;)
        file(expected[i + 1], i);
    const std::string text = page();
    EXPECT_THAT(hrefs(text), ElementsAreArray(expected));
    EXPECT_THAT(text, HasSubstr("0 folders, 10000 files"));
    EXPECT_TRUE(text.ends_with("</html>\n"));
}

// With $KORU_WRITE_SAMPLE_PAGE set, writes the page of a folder such as a phone's owner keeps,
// for screenshots of the template.
TEST_F(FolderPage, SamplePage) {
    const char* out = std::getenv("KORU_WRITE_SAMPLE_PAGE");
    if (out == nullptr)
        GTEST_SKIP() << "KORU_WRITE_SAMPLE_PAGE not set";
    folder("Holiday 2026", kTime - 86400 * 40);
    folder("M\xC3\xBCsik f\xC3\xBCr unterwegs", kTime - 86400 * 3);
    file("IMG_4021.jpg", 3412876, kTime - 3600 * 5);
    file("Beach at sunset.mp4", 184223112, kTime - 3600 * 26);
    file("notes & ideas.txt", 812, kTime - 600);
    file("r\xC3\xA9sum\xC3\xA9 2026.pdf", 96510, kTime - 86400 * 12);
    file("a rather long file name that goes on and on, as exported by some scanner app "
         "2026-12-10.pdf",
         1250000, kTime - 86400);
    file("song #1.mp3", 5120334, kTime - 86400 * 200);
    std::ofstream(out, std::ios::binary) << page("/shared/");
}

} // namespace
