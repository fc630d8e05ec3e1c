#include "server/Request.h"

#include <gtest/gtest.h>

using namespace request;

namespace {

struct CompleteCase {
    const char* description;
    std::string received;
    Arrival state;
    size_t bodyStart;
};

class CompletenessTest : public ::testing::TestWithParam<CompleteCase> {};

} // namespace

TEST_P(CompletenessTest, FollowsBlankLineAndDeclaredLength) {
    const Completeness c = CheckComplete(GetParam().received);
    EXPECT_EQ(c.state, GetParam().state) << GetParam().description;
    if (GetParam().state == Arrival::Complete) {
        EXPECT_EQ(c.bodyStart, GetParam().bodyStart) << GetParam().description;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompletenessTest,
    ::testing::Values(
        CompleteCase{"no blank line yet", "GET / HTTP/1.0\r\n", Arrival::Incomplete, 0},
        CompleteCase{"blank line, no length", "GET / HTTP/1.0\r\n\r\nextra", Arrival::Complete, 19},
        CompleteCase{"lower-case header", "PUT /a HTTP/1.0\r\ncontent-length: 5\r\n\r\nhello",
                     Arrival::Complete, 39},
        CompleteCase{"value right after colon", "PUT /a HTTP/1.0\r\nContent-Length:5\r\n\r\nhell",
                     Arrival::Incomplete, 0},
        CompleteCase{"letter value counts 0", "PUT /a HTTP/1.0\r\nContent-Length: x5\r\n\r\n",
                     Arrival::Complete, 40},
        CompleteCase{"sign and blanks skipped", "P\r\nContent-Length:  +-3\r\n\r\nabc",
                     Arrival::Complete, 28},
        CompleteCase{"nine of ten", "P\r\nContent-Length: 10\r\n\r\n123456789", Arrival::Incomplete,
                     0},
        CompleteCase{"a length in the body is no field", "P\r\n\r\nContent-Length: 99",
                     Arrival::Complete, 6},
        CompleteCase{"declared too large", "P\r\nContent-Length: 268435457\r\n\r\n",
                     Arrival::TooLarge, 0},
        CompleteCase{"beyond 32 bits", "P\r\nContent-Length: 99999999999999999999\r\n\r\n",
                     Arrival::TooLarge, 0},
        CompleteCase{"header without end too long", std::string(64 * 1024, 'a'), Arrival::TooLarge,
                     0},
        CompleteCase{"first bytes are the blank line", "\r\n\r\n", Arrival::Complete, 5},
        // Only a field of its own declares a length: anything else that merely holds the name
        // made a GET wait for a body that never came.
        CompleteCase{"a field whose name ends in it",
                     "GET / HTTP/1.0\r\nX-Content-Length: 5\r\n\r\n", Arrival::Complete, 40},
        CompleteCase{"inside a cookie", "GET / HTTP/1.0\r\nCookie: content-length:12\r\n\r\n",
                     Arrival::Complete, 46},
        CompleteCase{"inside the target", "GET /content-length:9.txt HTTP/1.0\r\n\r\n",
                     Arrival::Complete, 39},
        CompleteCase{"a blank before the colon", "P\r\nContent-Length : 5\r\n\r\n",
                     Arrival::Complete, 26},
        // Found by fuzzing the collector: a blank value read its digits from the body, so the
        // request's end depended on how its bytes arrived.
        CompleteCase{"a blank value never reads the body", "P\r\nContent-Length: \r\n\r\n9xyz",
                     Arrival::Complete, 24},
        CompleteCase{"a line that ends in LF alone", "P\nHost: h\ncontent-LENGTH:3\r\n\r\nab",
                     Arrival::Incomplete, 0}));

TEST(Completeness, LargestAllowedBodyIsWaitedFor) {
    // Bodies held in memory stop at 16 MiB; uploads stream theirs and may declare more.
    EXPECT_EQ(CheckComplete("P\r\nContent-Length: 16777216\r\n\r\n").state, Arrival::Incomplete);
    EXPECT_EQ(CheckComplete("P\r\nContent-Length: 16777217\r\n\r\n").state, Arrival::TooLarge);
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length: 268435456\r\n\r\n"), 268435456);
    // Uploads may be as large as a file system holds; past the ceiling every length reads as
    // one above it, however many digits it has.
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length: 4611686018427387904\r\n\r\n"), kMaxBodyBytes);
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length: 4611686018427387905\r\n\r\n"),
              kMaxBodyBytes + 1);
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length: 9223372036854775808\r\n\r\n"),
              kMaxBodyBytes + 1);
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length: 184467440737095516160000\r\n\r\n"),
              kMaxBodyBytes + 1);
    EXPECT_EQ(DeclaredLength("x: y\r\n\r\n"), std::nullopt);
}

TEST(RequestLineTest, EndsAtAnyLineBreakOrNul) {
    EXPECT_EQ(RequestLine("GET / HTTP/1.0\r\nHost: x"), "GET / HTTP/1.0");
    EXPECT_EQ(RequestLine("GET / HTTP/1.0\nHost"), "GET / HTTP/1.0");
    EXPECT_EQ(RequestLine("GET / HTTP/1.0\rHost"), "GET / HTTP/1.0");
    EXPECT_EQ(RequestLine("\r\nGET / HTTP/1.0"), "");
    EXPECT_EQ(RequestLine(std::string_view("GE\0T", 4)), "GE");
    EXPECT_EQ(RequestLine(std::string_view("\0GET", 4)), std::nullopt);
    EXPECT_EQ(RequestLine(""), std::nullopt);
}

namespace {
struct TargetCase {
    const char* line;
    const char* method;
    std::optional<std::string> target;
};
class MethodTargetTest : public ::testing::TestWithParam<TargetCase> {};
} // namespace

TEST_P(MethodTargetTest, ExtractsTarget) {
    EXPECT_EQ(MethodTarget(GetParam().line, GetParam().method), GetParam().target)
        << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MethodTargetTest,
    ::testing::Values(TargetCase{"GET / HTTP/1.0", "GET", "/"},
                      TargetCase{"GET /index.htm  HTTP/1.1", "GET", "/index.htm"},
                      TargetCase{"GET /index.htm", "GET", ""},
                      TargetCase{"GET /index.htm HTTP/1.0 ", "GET", ""},
                      TargetCase{"GET /index.htm HTTP/1.10", "GET", ""},
                      TargetCase{"GET /HTTP/1.0 HTTP/1.0", "GET", ""},
                      TargetCase{"get /index.htm HTTP/1.0", "GET", std::nullopt},
                      TargetCase{"HEAD / HTTP/1.0", "GET", std::nullopt},
                      TargetCase{"GETS /x HTTP/1.0", "GET", "/x"},
                      TargetCase{"GET/x HTTP/1.0", "GET", "x"}, TargetCase{"GET", "GET", ""},
                      TargetCase{"POST /calc?a=1 HTTP/1.0", "POST", "/calc?a=1"},
                      TargetCase{"GET /my%20page.htm HTTP/1.0", "GET", "/my%20page.htm"}));

TEST(FileExtensionTest, TextAfterLastDot) {
    const std::pair<const char*, const char*> cases[] = {{"/index.htm", "htm"},
                                                         {"/a.b/file", "b/file"},
                                                         {"/a.b\\file", ""},
                                                         {"/noext", ""},
                                                         {"/x.", ""}};
    for (const auto& [path, extension] : cases)
        EXPECT_EQ(FileExtension(path), extension) << path;
    EXPECT_EQ(FileExtension("/x." + std::string(300, 'e')).size(), 260u);
}

TEST(PathSafety, DotDotSegmentsWithEitherSeparator) {
    for (const char* bad : {"/../etc/passwd", "..", "/a/../../b", "\\..\\x", "/a\\..", "../"})
        EXPECT_TRUE(EscapesBase(bad)) << bad;
    for (const char* ok : {"/a..b", "/...", "/.hidden", "/a/./b", "/..x/", "", "/"})
        EXPECT_FALSE(EscapesBase(ok)) << ok;
}

TEST(PluginTargetTest, NameFromSecondCharacterToFirstMark) {
    EXPECT_EQ(SplitPluginTarget("/calc?a=1?b=2").name, "calc");
    EXPECT_EQ(SplitPluginTarget("/calc?a=1?b=2").query, "a=1?b=2");
    EXPECT_EQ(SplitPluginTarget("/?x").name, "");
    EXPECT_EQ(SplitPluginTarget("?x").name, "");
    EXPECT_EQ(SplitPluginTarget("?x").query, "x");
}

// Found by fuzzing: bytes above 127 were skipped like blanks before the value, so a request whose
// length field started with one waited for a body it had not declared and was never answered.
TEST(Completeness, ByteAboveSevenBitsBeforeTheValueReadsAsNoNumber) {
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length: \xE9"
                             "5\r\n\r\n"),
              0);
    EXPECT_EQ(DeclaredLength("P\r\nContent-Length:\t\xFF"
                             "10\r\n\r\n"),
              0);
    const Completeness c = CheckComplete("PUT /a HTTP/1.0\r\nContent-Length: \xE9"
                                         "5\r\n\r\n");
    EXPECT_EQ(c.state, Arrival::Complete);
    EXPECT_EQ(c.bodyStart, 40u);
}

TEST(VisitorText, ControlBytesAndLengthlessBodies) {
    EXPECT_EQ(EscapeControls("GET /a\x1b[31m\tb\x7f\x01\xC3\xA4 HTTP/1.0"),
              "GET /a\\x1B[31m\tb\\x7F\\x01\xC3\xA4 HTTP/1.0")
        << "control bytes written out; TAB and bytes above 127 kept";
    EXPECT_EQ(EscapeControls("plain"), "plain");
    EXPECT_TRUE(HasControlBytes("/a\x1b"));
    EXPECT_TRUE(HasControlBytes("/a\x7f"));
    EXPECT_TRUE(HasControlBytes("/a\tb"));
    EXPECT_FALSE(HasControlBytes("/\xC3\xA4 <b>.txt"));
    EXPECT_TRUE(DeclaresTransferEncoding("PUT /a HTTP/1.0\r\ntransfer-ENCODING: chunked"));
    EXPECT_FALSE(DeclaresTransferEncoding("PUT /Transfer-Encoding: HTTP/1.0\r\nX: 1"))
        << "only a field at the start of a line counts";
}
