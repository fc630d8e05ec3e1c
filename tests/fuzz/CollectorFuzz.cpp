// A request's bytes, cut into the chunks a peer might send them in, each read taking no more than
// the collector wants: however they are cut, the collector reaches the same state, streams the
// same upload bytes and routes the request the same way as when the bytes come in as few pieces
// as it takes. Only a module's query may differ, and only by holding more of what arrived after
// the declared body.
#include "FuzzCheck.h"
#include "server/Request.h"
#include "server/RequestCollector.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using request::RequestCollector;

namespace {

struct Outcome {
    RequestCollector::State state = RequestCollector::State::Incomplete;
    std::string streamed;
    std::string decision;
    std::string query;
};

// The first byte picks the chunk sizes (1 to 64, or one piece for 0); the rest is the request.
Outcome collect(const uint8_t* data, size_t size, uint8_t seed) {
    Outcome outcome;
    RequestCollector collector("index.htm", "/srv/base/", [&](const route::Decision& decision) {
        return decision.kind != route::Kind::Upload
                   ? RequestCollector::BodySink()
                   : [&outcome](const char* bytes, size_t n) { outcome.streamed.append(bytes, n); };
    });
    uint32_t state = seed;
    for (size_t at = 0; at < size;) {
        state = state * 1103515245u + 12345u;
        const size_t piece = seed == 0 ? size : 1 + (state >> 16) % 64;
        const size_t n = std::min({piece, size - at, collector.Want(64 * 1024)});
        if (n == 0)
            break;
        collector.Feed(reinterpret_cast<const char*>(data) + at, n);
        FUZZ_REQUIRE(collector.Received().size() <=
                     request::kMaxHeaderBytes + request::kMaxHeldBodyBytes + 64);
        at += n;
    }
    outcome.state = collector.state();
    if (outcome.state == RequestCollector::State::Complete) {
        const route::Decision& d = collector.Decision();
        outcome.decision = std::to_string(static_cast<int>(d.kind)) + "|" + d.requestPath + "|" +
                           d.fileName + "|" + d.module + "|" + std::to_string(d.status) + "|" +
                           d.message;
        outcome.query = d.query;
        FUZZ_REQUIRE(collector.BodyStart() >= 5 &&
                     collector.BodyStart() - 1 <= collector.Received().size());
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const Outcome whole = collect(data + 1, size - 1, 0);
    const Outcome cut = collect(data + 1, size - 1, data[0] == 0 ? 1 : data[0]);
    FUZZ_REQUIRE(whole.state == cut.state);
    FUZZ_REQUIRE(whole.streamed == cut.streamed);
    FUZZ_REQUIRE(whole.decision == cut.decision);
    FUZZ_REQUIRE(whole.query.starts_with(cut.query));
    const std::optional<int64_t> declared = request::DeclaredLength(
        std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    FUZZ_REQUIRE(!declared || static_cast<int64_t>(whole.streamed.size()) <= *declared);
    return 0;
}
