// The upload area of a folder page as the page builder writes it: there exactly when asked for,
// sending files to the folder it was given whatever bytes its name holds, and adding nothing to
// the listing itself nor anything a page would fetch from elsewhere.
#include "server/UploadArea.h"
#include "server/FolderPage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::vector<folderpage::Entry> kEntries = {
    {"notes.txt", false, 12, 0}, {"photos", true, 0, 0}, {"a \"b\" <c>.txt", false, 3, 0}};

std::string render(std::optional<std::string_view> uploadTo, std::string_view at = "/sub/") {
    return folderpage::Render(at, kEntries, uploadTo);
}

size_t occurrences(const std::string& text, std::string_view what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string dataTo(const std::string& page) {
    const std::string open = "data-to=\"";
    const size_t at = page.find(open);
    if (at == std::string::npos)
        return "<none>";
    const size_t start = at + open.size();
    return page.substr(start, page.find('"', start) - start);
}

} // namespace

TEST(UploadArea, ThereOnlyWhenThePageOffersIt) {
    const std::string without = render(std::nullopt);
    for (const char* part : {"<section class=\"up\"", "type=\"file\"", "<script>", "data-to="})
        EXPECT_THAT(without, Not(HasSubstr(part))) << part;

    const std::string with = render("/sub/");
    EXPECT_EQ(occurrences(with, "<section class=\"up\""), 1u);
    EXPECT_THAT(with, HasSubstr("<input type=\"file\" id=\"up-pick\" multiple>"));
    EXPECT_THAT(with, HasSubstr("<label for=\"up-pick\">")) << "the picker has its label";
    EXPECT_THAT(with, HasSubstr("role=\"status\"")) << "what became of the files is announced";
    EXPECT_EQ(dataTo(with), "/sub/");
    EXPECT_LT(with.find("<section class=\"up\""), with.find("<ul class=\"ls\">"))
        << "above the listing, where a phone's screen shows it first";
    EXPECT_TRUE(with.ends_with("</html>\n"));
}

TEST(UploadArea, TheListingIsTheSameWithOrWithoutIt) {
    std::string with = render("/sub/");
    const size_t start = with.find("<style>\n.up");
    const std::string end = "</script>\n";
    const size_t stop = with.find(end, start);
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(stop, std::string::npos);
    with.erase(start, stop + end.size() - start);
    EXPECT_EQ(with, render(std::nullopt));
}

TEST(UploadArea, TheFolderItSendsToIsEncodedAndEscaped) {
    const struct {
        std::string folder;
        std::string attribute;
    } cases[] = {
        {"/", "/"},
        {"/sub/", "/sub/"},
        {"/my photos/", "/my%20photos/"},
        {"/a \"b\" <c> & 'd'/", "/a%20%22b%22%20%3Cc%3E%20%26%20%27d%27/"},
        {"/R\xC3\xA9sum\xC3\xA9/", "/R%C3%A9sum%C3%A9/"},
        {"/100%/#1?x=y/", "/100%25/%231%3Fx%3Dy/"},
        {"/\xFF\x01/", "/%FF%01/"},
        {"/x\">\"<script>alert(1)</script>/", "/x%22%3E%22%3Cscript%3Ealert%281%29%3C/script%3E/"},
    };
    for (const auto& c : cases) {
        const std::string page = render(c.folder);
        EXPECT_EQ(dataTo(page), c.attribute) << c.folder;
        EXPECT_EQ(occurrences(page, "<script>"), 1u) << c.folder;
    }
    // The area's own markup is the same for any folder: the name adds no tag of its own.
    EXPECT_EQ(occurrences(render("/a<b>c/"), "<"), occurrences(render("/abc/"), "<"));
}

TEST(UploadArea, SmallAndSelfContained) {
    std::string area;
    uploadarea::Append(area, "/");
    EXPECT_EQ(area.size(), uploadarea::MarkupSize() + 1);
    // Style and script inline, a few kilobytes at most: a page that lists a few files stays
    // light on a phone's connection.
    EXPECT_LT(area.size(), 4096u);
    for (const char* outside : {"http:", "https:", "src=", "url(", "@import", "<link", "//"})
        EXPECT_THAT(area, Not(HasSubstr(outside))) << outside;
    for (const char* form : {"FormData", "multipart"})
        EXPECT_THAT(area, Not(HasSubstr(form))) << "each file's bytes go as they are";
}
