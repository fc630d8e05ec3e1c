#include "server/RequestCollector.h"

#include "server/Request.h"

#include <algorithm>

namespace request {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

} // namespace

RequestCollector::RequestCollector(std::string_view baseFile, std::string_view basePath,
                                   StreamStart onStream, HeaderCheck check)
    : baseFile_(baseFile), basePath_(basePath), onStream_(std::move(onStream)),
      check_(std::move(check)) {}

size_t RequestCollector::Want(size_t bodyRead) const {
    if (headerSeen_)
        return bodyRead;
    return kMaxHeaderBytes - std::min(received_.size(), kMaxHeaderBytes);
}

RequestCollector::State RequestCollector::Feed(const char* data, size_t size) {
    if (state_ != State::Incomplete || size == 0)
        return state_;
    if (streaming_) {
        streamBody(data, size);
    } else {
        const size_t before = received_.size();
        received_.append(data, size);
        if (!headerSeen_) {
            const size_t p = received_.find(kBlankLine, before >= 3 ? before - 3 : 0);
            if (p != std::string::npos)
                headerArrived(p);
        }
    }
    settle();
    return state_;
}

std::string_view RequestCollector::Header() const {
    return std::string_view(received_).substr(0, headerLength_);
}

route::Decision& RequestCollector::Decision() {
    if (!decision_) {
        const std::string_view all = received_;
        const size_t bodyAt = std::min(bodyStart_ == 0 ? all.size() : bodyStart_ - 1, all.size());
        decision_ = route::Decide({Header(), all.substr(bodyAt), baseFile_, basePath_});
    }
    return *decision_;
}

// A PUT that declares its length streams its body from here on; every other request keeps
// collecting into the request's own buffer.
void RequestCollector::headerArrived(size_t headerLength) {
    headerSeen_ = true;
    const std::string_view header(received_.data(), headerLength);
    if (check_) {
        if (std::optional<Refusal> refusal = check_(header)) {
            route::Decision refused;
            refused.logLine = RequestLine(header);
            refused.status = refusal->status;
            refused.message = std::move(refusal->message);
            decision_ = std::move(refused);
            endAtHeader(headerLength);
            return;
        }
    }
    const std::optional<std::string> line = RequestLine(header);
    const std::optional<int64_t> length = DeclaredLength(header);
    if (!line || !MethodTarget(*line, "PUT")) {
        // A body handed on as text grows its buffer once, not by doubling.
        if (length && *length <= kMaxHeldBodyBytes)
            received_.reserve(headerLength + kBlankLine.size() + static_cast<size_t>(*length));
        return;
    }
    const bool transferEncoded = DeclaresTransferEncoding(header);
    if ((!length && !transferEncoded) || (length && *length > kMaxBodyBytes))
        return; // the blank line completes it, or it is refused as too large
    streaming_ = true;
    // A body of unknown length is refused at once; nothing of it is stored.
    bodyLeft_ = transferEncoded ? 0 : *length;
    const size_t bodyAt = headerLength + kBlankLine.size();
    headerLength_ = headerLength;
    bodyStart_ = bodyAt + 1;
    decision_ = route::Decide({header, {}, baseFile_, basePath_});
    const bool upload = decision_->kind == route::Kind::Upload;
    if (onStream_)
        sink_ = onStream_(*decision_);
    if (upload && decision_->kind == route::Kind::Error) {
        endAtHeader(headerLength);
        return;
    }
    streamBody(received_.data() + bodyAt, received_.size() - bodyAt);
    received_.resize(bodyAt);
}

// The request is over at its header: what came after it is dropped, like any byte after a whole
// request.
void RequestCollector::endAtHeader(size_t headerLength) {
    streaming_ = false;
    sink_ = {};
    headerLength_ = headerLength;
    bodyStart_ = headerLength + kBlankLine.size() + 1;
    received_.resize(bodyStart_ - 1);
    state_ = State::Complete;
}

// Exactly the declared length is stored; bytes beyond it are dropped like any byte after a whole
// request.
void RequestCollector::streamBody(const char* data, size_t size) {
    const int64_t take = std::min<int64_t>(static_cast<int64_t>(size), bodyLeft_);
    if (sink_ && take > 0)
        sink_(data, static_cast<size_t>(take));
    bodyLeft_ -= take;
}

void RequestCollector::settle() {
    if (state_ != State::Incomplete)
        return;
    if (streaming_) {
        if (bodyLeft_ == 0)
            state_ = State::Complete;
        return;
    }
    const Completeness c = CheckComplete(received_);
    if (c.state == Arrival::Incomplete)
        return;
    state_ = c.state == Arrival::TooLarge ? State::TooLarge : State::Complete;
    headerLength_ = c.headerLength;
    bodyStart_ = c.bodyStart;
}

} // namespace request
