#pragma once

#include "server/Router.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The collecting of one request, as logic without a socket: fed the bytes as they arrive, it
// tells whether the request is whole, still incomplete or too large, and it routes the request
// exactly once. An upload that declares its length is routed when its header is whole, so that
// its body can go straight to its file as it arrives; every other request is routed when it is
// taken, so that a large body is copied into a module's query only then.
namespace request {

class RequestCollector {
public:
    enum class State { Incomplete, Complete, TooLarge };
    // Where a streamed upload's body goes; empty to drop it (the upload is refused anyway).
    using BodySink = std::function<void(const char* data, size_t size)>;
    // Called once, when a PUT's header declares its length (or a transfer coding), with the
    // request's decision: returns where its body goes. A start that turns an upload's decision
    // into an error (refused at its header) ends the request at once: none of its body is taken.
    using StreamStart = std::function<BodySink(route::Decision& decision)>;
    // A refusal of the whole request: its status and page text.
    struct Refusal {
        int status;
        std::string message;
    };
    // Called once, as soon as the header is whole and before it is routed: a refusal ends the
    // request there, with nothing more of it looked at than its request line (for the log).
    using HeaderCheck = std::function<std::optional<Refusal>(std::string_view header)>;

    RequestCollector(std::string_view baseFile, std::string_view basePath, StreamStart onStream,
                     HeaderCheck check = {});

    // Takes bytes that arrived; returns the state after them. Bytes fed once the request is whole
    // or too large are ignored.
    State Feed(const char* data, size_t size);
    State state() const { return state_; }

    // The most the next read should take: while the header is incomplete, what it may still grow
    // by (a peer that never sends its blank line costs the header limit at most, however fast it
    // sends); else `bodyRead`.
    size_t Want(size_t bodyRead) const;
    bool HeaderSeen() const { return headerSeen_; }
    bool Streaming() const { return streaming_; }

    // The request as received (a streamed upload's without its body).
    const std::string& Received() const { return received_; }
    // Whole requests only: the bytes before the blank line, and the 1-based position after it.
    std::string_view Header() const;
    size_t BodyStart() const { return bodyStart_; }
    // The request's one routing decision (whole requests only), made on the first call.
    route::Decision& Decision();

private:
    void headerArrived(size_t headerLength);
    void endAtHeader(size_t headerLength);
    void streamBody(const char* data, size_t size);
    void settle();

    const std::string_view baseFile_;
    const std::string_view basePath_;
    const StreamStart onStream_;
    const HeaderCheck check_;
    std::string received_;
    State state_ = State::Incomplete;
    bool headerSeen_ = false;
    // A PUT with a declared length: its body goes to `sink_`, and the request is whole when
    // `bodyLeft_` reaches 0.
    bool streaming_ = false;
    int64_t bodyLeft_ = 0;
    BodySink sink_;
    size_t headerLength_ = 0;
    size_t bodyStart_ = 0;
    std::optional<route::Decision> decision_;
};

} // namespace request
