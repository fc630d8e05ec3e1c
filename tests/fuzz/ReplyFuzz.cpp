// Every reply form composed from arbitrary codes, messages, content types, sizes and plug-in
// output, checked the way a client reads it back: status line, header, announced length, body.
#include "FuzzCheck.h"
#include "server/Reply.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

using namespace reply;

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

// The number after the last "Content-Length: " of a header, as a client would parse it.
std::optional<int64_t> announcedLength(std::string_view header) {
    static constexpr std::string_view kName = "Content-Length: ";
    const size_t at = header.rfind(kName);
    if (at == std::string_view::npos)
        return std::nullopt;
    const char* first = header.data() + at + kName.size();
    const char* last = header.data() + header.size();
    int64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end == last || *end != '\r')
        return std::nullopt;
    return value;
}

bool containsUpper(std::string_view text, std::string_view upperNeedle) {
    for (size_t at = 0; at + upperNeedle.size() <= text.size(); ++at) {
        bool match = true;
        for (size_t k = 0; k < upperNeedle.size() && match; ++k) {
            const char c = text[at + k];
            match = (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == upperNeedle[k];
        }
        if (match)
            return true;
    }
    return false;
}

std::string checkStatusLine(int32_t code) {
    const std::string line = StatusLine(code);
    const std::string_view reason = ReasonPhrase(code);
    FUZZ_REQUIRE(!reason.empty() && reason.find_first_of("\r\n") == std::string_view::npos);
    FUZZ_REQUIRE(line == "HTTP/1.0 " + std::to_string(code) + " " + std::string(reason) + "\r\n");
    return line;
}

void checkPageReply(int32_t code, const std::string& message) {
    const std::string text = PageReply(code, message);
    const std::string status = checkStatusLine(code);
    FUZZ_REQUIRE(text.starts_with(status));
    // The fixed header ends at the first blank line, whatever the message holds.
    const size_t end = text.find(kBlankLine);
    FUZZ_REQUIRE(end != std::string::npos);
    const std::string_view header = std::string_view(text).substr(0, end + 2);
    const std::string_view body = std::string_view(text).substr(end + kBlankLine.size());
    FUZZ_REQUIRE(header.substr(status.size()).starts_with("Content-Type: text/html\r\n"));
    FUZZ_REQUIRE(header.ends_with("\r\nContent:\r\n"));
    FUZZ_REQUIRE(announcedLength(header) == static_cast<int64_t>(body.size()));
    FUZZ_REQUIRE(body == "<HTML><h2>" + message + "</h2></HTML>");
}

void checkFileHeader(const std::string& type, int64_t size) {
    const std::string sent = DefaultContentType(type);
    const bool blank = std::all_of(type.begin(), type.end(), fuzzcheck::IsControl);
    FUZZ_REQUIRE(sent == (blank ? std::string("binary/data") : type));
    const std::string header = FileHeader(sent, size);
    FUZZ_REQUIRE(header.starts_with("Server: Mirelton/0.3\r\nContent-Type: " + sent + "\r\n"));
    FUZZ_REQUIRE(header.ends_with(kBlankLine));
    FUZZ_REQUIRE(announcedLength(header) == size);
}

void checkPluginReply(int32_t status, const std::string& extra, const std::string& page) {
    const std::string text = PluginReply(status, extra, page);
    const std::string head = checkStatusLine(status) + extra;
    FUZZ_REQUIRE(text.starts_with(head));
    FUZZ_REQUIRE(text.ends_with(page));
    const std::string_view framing =
        std::string_view(text).substr(head.size(), text.size() - head.size() - page.size());
    const std::string_view typeLine = "Content-type: text/html\r\n";
    const bool typed = containsUpper(extra, "CONTENT-TYPE: ");
    FUZZ_REQUIRE(framing.starts_with(typeLine) != typed);
    const std::string_view rest = typed ? framing : framing.substr(typeLine.size());
    FUZZ_REQUIRE(rest == "Content-Length: " + std::to_string(page.size()) + "\r\nContent:\r\n\r\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int32_t code = input.ConsumeIntegral<int32_t>();
    const int64_t fileSize = input.ConsumeIntegral<int64_t>();
    const std::string message = input.ConsumeRandomLengthString();
    const std::string type = input.ConsumeRandomLengthString();
    const std::string extra = input.ConsumeRandomLengthString();
    const std::string page = input.ConsumeRemainingBytesAsString();

    checkPageReply(code, message);
    checkFileHeader(type, fileSize);
    checkPluginReply(code, extra, page);
    return 0;
}
