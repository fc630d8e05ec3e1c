// The collecting of a request from the chunks a peer's bytes arrive in: when it is whole, when it
// is too large, where a streamed upload's body goes, and that it is routed once.
#include "server/RequestCollector.h"
#include "server/Request.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

using request::RequestCollector;
using State = RequestCollector::State;

namespace {

struct Row {
    const char* description;
    std::vector<std::string> chunks;
    // The state after each chunk: I(ncomplete), C(omplete), T(oo large).
    std::string states;
    route::Kind kind = route::Kind::Error; // whole requests only
    std::string requestPath;
    std::string streamed; // what reached the upload's file
    size_t bodyStart = 0; // whole requests only
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.description;
}

char Letter(State state) {
    return state == State::Incomplete ? 'I' : state == State::Complete ? 'C' : 'T';
}

class Collecting : public ::testing::TestWithParam<Row> {};

const std::string kPut = "PUT /up.txt HTTP/1.0\r\nContent-Length: 10\r\n\r\n";

// kPut's upload of ten digits, however its bytes arrive.
Row UploadOfTen(const char* description, std::vector<std::string> chunks, std::string states) {
    return Row{description, std::move(chunks), std::move(states), route::Kind::Upload,
               "/up.txt",   "0123456789",      kPut.size() + 1};
}

} // namespace

TEST_P(Collecting, FromArrivingChunks) {
    const Row& row = GetParam();
    std::string streamed;
    int streams = 0;
    RequestCollector collector("index.htm", "/srv/", [&](const route::Decision& decision) {
        ++streams;
        return decision.kind != route::Kind::Upload
                   ? RequestCollector::BodySink()
                   : [&streamed](const char* data, size_t size) { streamed.append(data, size); };
    });
    std::string states;
    for (const std::string& chunk : row.chunks)
        states += Letter(collector.Feed(chunk.data(), chunk.size()));
    EXPECT_EQ(states, row.states);
    EXPECT_EQ(streamed, row.streamed);
    EXPECT_EQ(streams, collector.Streaming() ? 1 : 0);
    if (collector.state() != State::Complete)
        return;
    EXPECT_EQ(collector.BodyStart(), row.bodyStart);
    route::Decision& decision = collector.Decision();
    EXPECT_EQ(decision.kind, row.kind);
    EXPECT_EQ(decision.requestPath, row.requestPath);
    EXPECT_EQ(&collector.Decision(), &decision) << "routed once";
}

INSTANTIATE_TEST_SUITE_P(
    Table, Collecting,
    ::testing::Values(Row{"a GET in one piece",
                          {"GET / HTTP/1.0\r\n\r\n"},
                          "C",
                          route::Kind::File,
                          "index.htm",
                          "",
                          19},
                      Row{"the blank line split over pieces",
                          {"GET /a HTTP/1.0\r", "\n\r", "\n"},
                          "IIC",
                          route::Kind::File,
                          "/a",
                          "",
                          20},
                      Row{"a POST waits for its declared body",
                          {"POST /m HTTP/1.0\r\nContent-Length: 3\r\n\r\na", "=1"},
                          "IC",
                          route::Kind::Module,
                          "/m",
                          "",
                          40},
                      Row{"bytes after a whole request change nothing",
                          {"GET /x HTTP/1.0\r\n\r\n", "PUT /y HTTP/1.0\r\n\r\n"},
                          "CC",
                          route::Kind::File,
                          "/x",
                          "",
                          20},
                      UploadOfTen("an upload streams exactly its declared length",
                                  {kPut + "0123", "456", "789extra"}, "IIC"),
                      UploadOfTen("an upload's header and whole body in one piece",
                                  {kPut + "0123456789"}, "C"),
                      Row{"a transfer coding is refused at its header",
                          {"PUT /t HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello"},
                          "C",
                          route::Kind::Error,
                          "/t",
                          "",
                          48},
                      Row{"a PUT without a length is whole at the blank line, and refused",
                          {"PUT /n HTTP/1.0\r\n\r\nbody"},
                          "C",
                          route::Kind::Error,
                          "/n",
                          "",
                          20},
                      Row{"a header that never ends",
                          {std::string(request::kMaxHeaderBytes, 'h')},
                          "T",
                          route::Kind::Error,
                          "",
                          "",
                          0},
                      Row{"a held body above 16 MiB",
                          {"POST /m HTTP/1.0\r\nContent-Length: 16777217\r\n\r\n"},
                          "T",
                          route::Kind::Error,
                          "",
                          "",
                          0},
                      Row{"an upload above the ceiling of 2^62 bytes",
                          {"PUT /u HTTP/1.0\r\nContent-Length: 4611686018427387905\r\n\r\n"},
                          "T",
                          route::Kind::Error,
                          "",
                          "",
                          0},
                      Row{"a length of more digits than any number holds",
                          {"PUT /u HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n"},
                          "T",
                          route::Kind::Error,
                          "",
                          "",
                          0},
                      Row{"an upload above 256 MiB streams",
                          {"PUT /u HTTP/1.0\r\nContent-Length: 268435457\r\n\r\nab"},
                          "I",
                          route::Kind::Upload,
                          "/u",
                          "ab",
                          0},
                      Row{"an upload of 2^62 bytes streams",
                          {"PUT /u HTTP/1.0\r\nContent-Length: 4611686018427387904\r\n\r\nab"},
                          "I",
                          route::Kind::Upload,
                          "/u",
                          "ab",
                          0}));

TEST(Collecting, HeaderReadsStopAtTheHeaderLimit) {
    RequestCollector collector("", "/srv/", {});
    EXPECT_EQ(collector.Want(1234), request::kMaxHeaderBytes);
    const std::string part(1000, 'h');
    collector.Feed(part.data(), part.size());
    EXPECT_EQ(collector.Want(1234), request::kMaxHeaderBytes - 1000);
    collector.Feed("\r\n\r\n", 4);
    EXPECT_EQ(collector.Want(1234), 1234u) << "a body read once the header is whole";
}

// A refusal at the header ends the request there: nothing of its body is taken or held, and
// its request line is kept for the log.
TEST(Collecting, ARefusalAtTheHeaderEndsTheRequestThere) {
    struct Case {
        const char* what;
        std::string bytes;
        bool refuseAll;    // the header check refuses every request
        bool refuseUpload; // the stream start turns the upload into an error
    };
    const Case cases[] = {
        {"a POST with a body still to come", "POST /m HTTP/1.0\r\nContent-Length: 100\r\n\r\nabc",
         true, false},
        {"an upload refused where it would go", "PUT /u HTTP/1.0\r\nContent-Length: 100\r\n\r\nabc",
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string streamed;
        int checks = 0;
        RequestCollector collector(
            "index.htm", "/srv/",
            [&](route::Decision& decision) -> RequestCollector::BodySink {
                if (c.refuseUpload) {
                    decision.kind = route::Kind::Error;
                    decision.status = 413;
                    decision.message = "no room";
                }
                return [&streamed](const char* data, size_t size) { streamed.append(data, size); };
            },
            [&](std::string_view header) -> std::optional<RequestCollector::Refusal> {
                ++checks;
                EXPECT_EQ(header.find("\r\n\r\n"), std::string_view::npos) << "the header only";
                if (!c.refuseAll)
                    return std::nullopt;
                return RequestCollector::Refusal{403, "not served"};
            });
        EXPECT_EQ(collector.Feed(c.bytes.data(), c.bytes.size()), State::Complete);
        EXPECT_EQ(collector.Feed("more", 4), State::Complete);
        EXPECT_EQ(checks, 1);
        EXPECT_EQ(streamed, "");
        EXPECT_FALSE(collector.Streaming());
        EXPECT_EQ(collector.Received(), c.bytes.substr(0, c.bytes.find("\r\n\r\n") + 4));
        EXPECT_EQ(collector.BodyStart(), c.bytes.find("\r\n\r\n") + 5);
        const route::Decision& d = collector.Decision();
        EXPECT_EQ(d.kind, route::Kind::Error);
        EXPECT_EQ(d.status, c.refuseAll ? 403 : 413);
        EXPECT_EQ(d.logLine, c.bytes.substr(0, c.bytes.find("\r\n")));
    }
}
