// Which part of a file a request's Range field asks for: one table over the value's forms and
// the file's size, one over where the field is looked for.
#include "server/ByteRange.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using byterange::Answer;
using byterange::Kind;

namespace {

const Answer kWhole{};
const Answer kPast{Kind::Unsatisfiable, 0, -1};
Answer part(int64_t first, int64_t last) {
    return {Kind::Partial, first, last};
}

struct ValueCase {
    const char* value;
    int64_t size;
    Answer answer;
};

class RangeValue : public ::testing::TestWithParam<ValueCase> {};

std::ostream& operator<<(std::ostream& out, const ValueCase& c) {
    return out << '"' << c.value << "\" of " << c.size;
}

} // namespace

TEST_P(RangeValue, GivesTheBytesToSend) {
    const ValueCase& c = GetParam();
    const Answer got = byterange::ForValue(c.value, c.size);
    EXPECT_EQ(got.kind, c.answer.kind);
    if (c.answer.kind == Kind::Partial) {
        EXPECT_EQ(got.first, c.answer.first);
        EXPECT_EQ(got.last, c.answer.last);
    }
    // Through a whole header the same value gives the same answer.
    EXPECT_EQ(byterange::ForRequest(std::string("GET /f HTTP/1.0\r\nRange: ") + c.value, c.size),
              got);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RangeValue,
    ::testing::Values(
        // a-b, with b clipped to the last byte
        ValueCase{"bytes=0-0", 10, part(0, 0)}, ValueCase{"bytes=0-9", 10, part(0, 9)},
        ValueCase{"bytes=2-5", 10, part(2, 5)}, ValueCase{"bytes=9-9", 10, part(9, 9)},
        ValueCase{"bytes=3-100", 10, part(3, 9)},
        ValueCase{"bytes=0-9223372036854775807", 10, part(0, 9)},
        ValueCase{"bytes=007-0008", 10, part(7, 8)},
        // a-
        ValueCase{"bytes=0-", 10, part(0, 9)}, ValueCase{"bytes=9-", 10, part(9, 9)},
        ValueCase{"bytes=4-", 1, kPast},
        // -n: the last n bytes, the whole file as a part when n reaches its size
        ValueCase{"bytes=-1", 10, part(9, 9)}, ValueCase{"bytes=-3", 10, part(7, 9)},
        ValueCase{"bytes=-10", 10, part(0, 9)}, ValueCase{"bytes=-11", 10, part(0, 9)},
        ValueCase{"bytes=-9223372036854775807", 10, part(0, 9)},
        // at or past the end, and any range of an empty file
        ValueCase{"bytes=10-", 10, kPast}, ValueCase{"bytes=10-20", 10, kPast},
        ValueCase{"bytes=-0", 10, kPast}, ValueCase{"bytes=0-", 0, kPast},
        ValueCase{"bytes=0-0", 0, kPast}, ValueCase{"bytes=-5", 0, kPast},
        ValueCase{"bytes=9223372036854775807-", 10, kPast},
        // blanks around the value; the unit in any letter case
        ValueCase{"  bytes=1-2 \t", 10, part(1, 2)}, ValueCase{"\tBYTES=1-2", 10, part(1, 2)},
        ValueCase{"Bytes=-2", 10, part(8, 9)},
        // whatever cannot be served exactly is ignored: the whole file
        ValueCase{"", 10, kWhole}, ValueCase{"bytes", 10, kWhole}, ValueCase{"bytes=", 10, kWhole},
        ValueCase{"bytes=-", 10, kWhole}, ValueCase{"bytes=5", 10, kWhole},
        ValueCase{"bytes=5-3", 10, kWhole}, ValueCase{"bytes=50-30", 10, kWhole},
        ValueCase{"bytes=1-2,4-5", 10, kWhole}, ValueCase{"bytes=0-1,", 10, kWhole},
        ValueCase{"bytes=0-1-2", 10, kWhole}, ValueCase{"bytes=--1", 10, kWhole},
        ValueCase{"bytes=+1-2", 10, kWhole}, ValueCase{"bytes=1-+2", 10, kWhole},
        ValueCase{"bytes=0x1-2", 10, kWhole}, ValueCase{"bytes=1 -2", 10, kWhole},
        ValueCase{"bytes= 1-2", 10, kWhole}, ValueCase{"bytes =1-2", 10, kWhole},
        ValueCase{"bytes:1-2", 10, kWhole}, ValueCase{"bits=1-2", 10, kWhole},
        ValueCase{"items=1-2", 10, kWhole}, ValueCase{"byte=1-2", 10, kWhole},
        ValueCase{"bytesx=1-2", 10, kWhole}, ValueCase{"bytes=9223372036854775808-", 10, kWhole},
        ValueCase{"bytes=0-9223372036854775808", 10, kWhole},
        ValueCase{"bytes=-99999999999999999999", 10, kWhole},
        ValueCase{"bytes=\xb9-2", 10, kWhole}));

namespace {

struct HeaderCase {
    const char* description;
    std::string header;
    Answer answer;
};

class RangeField : public ::testing::TestWithParam<HeaderCase> {};

} // namespace

// Found by the rules of the Content-Length field: a line of its own after the request line, the
// name in any letter case with the colon right after it, within the header.
TEST_P(RangeField, IsFoundLikeTheOtherFields) {
    EXPECT_EQ(byterange::ForRequest(GetParam().header, 100), GetParam().answer)
        << GetParam().description;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RangeField,
    ::testing::Values(
        HeaderCase{"no field", "GET /f HTTP/1.0\r\nHost: x", kWhole},
        HeaderCase{"empty header", "", kWhole},
        HeaderCase{"among others", "GET /f HTTP/1.0\r\nHost: x\r\nRange: bytes=5-6\r\nA: b",
                   part(5, 6)},
        HeaderCase{"lower case, no blank", "GET /f HTTP/1.0\r\nrange:bytes=-4", part(96, 99)},
        HeaderCase{"lone LF lines", "GET /f HTTP/1.0\nRANGE: bytes=1-1\nA: b", part(1, 1)},
        HeaderCase{"the value ends with its line", "GET /f HTTP/1.0\r\nRange: bytes=1-\r\n2",
                   part(1, 99)},
        HeaderCase{"the first field counts", "G\r\nRange: bytes=1-1\r\nRange: bytes=2-2",
                   part(1, 1)},
        HeaderCase{"past the end", "G\r\nRange: bytes=100-", kPast},
        HeaderCase{"on the request line", "GET /f HTTP/1.0 Range: bytes=1-2\r\nA: b", kWhole},
        HeaderCase{"the request line alone", "Range: bytes=1-2", kWhole},
        HeaderCase{"a name that ends in it", "G\r\nX-Range: bytes=1-2", kWhole},
        HeaderCase{"a blank before the colon", "G\r\nRange : bytes=1-2", kWhole},
        HeaderCase{"inside another value", "G\r\nCookie: a\r\n range: bytes=1-2", kWhole},
        HeaderCase{"after the blank line", "G\r\nA: b\r\n\r\nRange: bytes=1-2", kWhole},
        HeaderCase{"a validator nobody can check", "G\r\nRange: bytes=1-2\r\nIf-Range: \"x\"",
                   kWhole},
        HeaderCase{"a validator before it", "G\r\nif-range: Tue, 1 Dec 2026\r\nRange: bytes=1-2",
                   kWhole}));
