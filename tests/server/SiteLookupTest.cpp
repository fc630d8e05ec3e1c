// What a browser's GET finds in a real base folder: the router's names, then the look into the
// folder, from a table of targets and settings.
#include "server/SiteLookup.h"
#include "server/Percent.h"
#include "server/Router.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using lookup::Kind;

struct Row {
    const char* description;
    const char* target;
    bool folderPages;
    const char* baseFile;
    Kind kind;
    const char* path; // below the base folder; a Location for a redirect
    bool asNamed = false;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.description;
}

class SiteLookup : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() {
        folder_ = new QTemporaryDir;
        base_ = folder_->path().toStdString() + "/";
        for (const char* name : {"music", "docs", "both", "empty", "x.htm", "deep", "deep/a"})
            ::mkdir((base_ + name).c_str(), 0755);
        for (const char* name :
             {"index.htm", "my%20page.htm", "my page.htm", "R\xC3\xA9sum\xC3\xA9.pdf",
              "music/my song.mp3", "docs/INDEX.HTML", "both/index.HTML", "both/Index.html",
              "both/index.htm", "deep/a/Index.Htm", "x.htm/inside.txt"}) {
            const int fd = ::open((base_ + name).c_str(), O_WRONLY | O_CREAT, 0644);
            ::close(fd);
        }
        ::symlink("music", (base_ + "tunes").c_str());
        ::symlink("missing", (base_ + "dangling").c_str());
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    static QTemporaryDir* folder_;
    static std::string base_;
};
QTemporaryDir* SiteLookup::folder_ = nullptr;
std::string SiteLookup::base_;

} // namespace

TEST_P(SiteLookup, FindsWhatABrowserAsksFor) {
    const Row& row = GetParam();
    const std::string header = std::string("GET ") + row.target + " HTTP/1.1";
    const route::Decision decision = route::Decide({header, {}, row.baseFile, base_});
    ASSERT_TRUE(decision.kind == route::Kind::File ||
                (decision.kind == route::Kind::Module && decision.fileFallback))
        << row.description;
    const lookup::Found found = lookup::Find(
        {decision.fileName, decision.decodedFileName, decision.requestPath, decision.defaultTarget},
        {base_, row.baseFile, row.folderPages});
    EXPECT_EQ(static_cast<int>(found.kind), static_cast<int>(row.kind)) << row.description;
    const std::string wanted = row.kind == Kind::Redirect  ? std::string(row.path)
                               : row.kind == Kind::Missing ? std::string()
                                                           : base_ + row.path;
    EXPECT_EQ(found.path, wanted) << row.description;
    if (row.kind == Kind::File) {
        EXPECT_EQ(found.asNamed, row.asNamed) << row.description;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SiteLookup,
    ::testing::Values(
        // Names: as received first, so that a file literally named with a "%" keeps its link.
        Row{"a literal name with an escape in it", "/my%20page.htm", false, "Index.Htm", Kind::File,
            "/my%20page.htm", true},
        Row{"a blank", "/my%20page.htm?x=1", false, "Index.Htm", Kind::File, "/my%20page.htm",
            true},
        Row{"accents", "/R%C3%A9sum%C3%A9.pdf", false, "Index.Htm", Kind::File,
            "/R\xC3\xA9sum\xC3\xA9.pdf"},
        Row{"a name in a folder", "/music/my%20song.mp3", false, "Index.Htm", Kind::File,
            "/music/my song.mp3"},
        Row{"through a link to a folder", "/tunes/my%20song.mp3", false, "Index.Htm", Kind::File,
            "/tunes/my song.mp3"},
        Row{"a link to nothing", "/dangling", true, "Index.Htm", Kind::Missing, ""},
        Row{"a file name is not matched without regard to case", "/INDEX.HTM", true, "Index.Htm",
            Kind::Missing, ""},

        // The start page: the default document without regard to case, whatever the setting.
        Row{"the default document in another case", "/", false, "Index.Htm", Kind::File,
            "index.htm"},
        Row{"the default document by its own name", "/", false, "index.htm", Kind::File,
            "index.htm", true},
        Row{"a query on the start page", "/?utm_source=x", false, "Index.Htm", Kind::File,
            "index.htm"},
        Row{"no such default document, no folder pages", "/", false, "start.html", Kind::Missing,
            ""},
        Row{"no such default document: the base folder's own index", "/", true, "start.html",
            Kind::File, "index.htm"},

        // Folders: their document, else their page, with folder pages on only.
        Row{"a folder without folder pages", "/music/", false, "Index.Htm", Kind::Missing, ""},
        Row{"a folder without its slash, without folder pages", "/music", false, "Index.Htm",
            Kind::Missing, ""},
        Row{"a folder is listed", "/music/", true, "Index.Htm", Kind::Folder, "/music/"},
        Row{"a folder by a link", "/tunes/", true, "Index.Htm", Kind::Folder, "/tunes/"},
        Row{"an empty folder is listed", "/empty/", true, "Index.Htm", Kind::Folder, "/empty/"},
        Row{"without its slash it moves", "/music", true, "Index.Htm", Kind::Redirect, "/music/"},
        Row{"the move keeps the name as sent", "/mus%69c", true, "Index.Htm", Kind::Redirect,
            "/mus%69c/"},
        Row{"a query on a folder", "/music?x=1", true, "Index.Htm", Kind::Redirect, "/music/"},
        Row{"index.html in any case", "/docs/", true, "Index.Htm", Kind::File, "/docs/INDEX.HTML"},
        Row{"the default document first, then index.html, then index.htm", "/both/", true,
            "Index.Htm", Kind::File, "/both/index.htm"},
        Row{"of two in other cases, the first by bytes", "/both/", true, "default.htm", Kind::File,
            "/both/Index.html"},
        Row{"the default document two folders down", "/deep/a/", true, "index.htm", Kind::File,
            "/deep/a/Index.Htm"},
        Row{"a folder with no document of its own", "/deep/", true, "index.htm", Kind::Folder,
            "/deep/"},
        Row{"a folder named like a file", "/x.htm/", true, "Index.Htm", Kind::Folder, "/x.htm/"},
        Row{"a file with a slash after it", "/index.htm/", true, "Index.Htm", Kind::Missing, ""}));

TEST(Percent, DecodesAndEncodesNamesAsBrowsersDo) {
    struct Case {
        std::string raw, decoded;
    };
    for (const Case& c :
         {Case{"", ""}, Case{"plain", "plain"}, Case{"%20", " "}, Case{"%c3%A9", "\xC3\xA9"},
          Case{"%", "%"}, Case{"%2", "%2"}, Case{"a%2", "a%2"}, Case{"%zz%41", "%zzA"},
          Case{"%%41", "%A"}, Case{"%2541", "%41"}, Case{"%00", std::string(1, '\0')},
          Case{"100%", "100%"}}) {
        EXPECT_EQ(percent::Decode(c.raw), c.decoded) << c.raw;
        EXPECT_EQ(percent::HasEscapes(c.raw), c.raw != c.decoded) << c.raw;
    }
    EXPECT_EQ(percent::EncodePath("my song #1?.mp3"), "my%20song%20%231%3F.mp3");
    EXPECT_EQ(percent::EncodePath("R\xC3\xA9sum\xC3\xA9/a-b_c.~"), "R%C3%A9sum%C3%A9/a-b_c.~");
    EXPECT_EQ(percent::EncodePath("100%"), "100%25");
    // Every byte comes back as it went.
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(percent::Decode(percent::EncodePath(all)), all);
}
