// The bytes a peer sends, taken through every pure step of the request path: completeness, the
// request line, the target of each method, path safety, the file extension and the plug-in split.
#include "FuzzCheck.h"
#include "server/Request.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>

using namespace request;
using fuzzcheck::IsControl;

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kBasePath = "/srv/base/";

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The declared length read straight from the rule: the first header line after the request line
// (lines end at CR or LF, the header at the first CR LF CR LF) that starts with "CONTENT-LENGTH:"
// in any letter case, then every character whose code is below that of "0" skipped, then the run
// of digits, all within the header.
std::optional<int64_t> referenceLength(std::string_view received) {
    static constexpr std::string_view kName = "CONTENT-LENGTH:";
    const size_t headerEnd = std::min(received.find(kBlankLine), received.size());
    bool firstLine = true;
    for (size_t at = 0; at + kName.size() <= headerEnd; ++at) {
        const bool lineStart = at > 0 && (received[at - 1] == '\r' || received[at - 1] == '\n');
        if (lineStart)
            firstLine = false;
        if (firstLine || !lineStart)
            continue;
        bool match = true;
        for (size_t k = 0; k < kName.size() && match; ++k)
            match = asciiUpper(received[at + k]) == kName[k];
        if (!match)
            continue;
        size_t i = at + kName.size();
        while (i < headerEnd && static_cast<unsigned char>(received[i]) < '0')
            ++i;
        int64_t n = 0;
        // Wider than the value, so that the model itself never overflows on a long number.
        for (; i < headerEnd && received[i] >= '0' && received[i] <= '9'; ++i) {
            const __int128 grown = static_cast<__int128>(n) * 10 + (received[i] - '0');
            n = grown > kMaxBodyBytes ? kMaxBodyBytes + 1 : static_cast<int64_t>(grown);
        }
        return n;
    }
    return std::nullopt;
}

void checkCompleteness(std::string_view received, const Completeness& c) {
    const std::optional<int64_t> declared = DeclaredLength(received);
    FUZZ_REQUIRE(declared == referenceLength(received));
    FUZZ_REQUIRE(!declared || (*declared >= 0 && *declared <= kMaxBodyBytes + 1));
    const size_t blank = received.find(kBlankLine);
    if (blank == std::string_view::npos) {
        FUZZ_REQUIRE(c.headerLength == 0 && c.bodyStart == 0);
        FUZZ_REQUIRE((c.state == Arrival::TooLarge) == (received.size() >= kMaxHeaderBytes));
        return;
    }
    FUZZ_REQUIRE(c.headerLength == blank);
    FUZZ_REQUIRE(c.bodyStart == blank + kBlankLine.size() + 1);
    FUZZ_REQUIRE(c.bodyStart - 1 <= received.size()); // never past the data
    const size_t bodyBytes = received.size() - (c.bodyStart - 1);
    if (declared && *declared > kMaxHeldBodyBytes)
        FUZZ_REQUIRE(c.state == Arrival::TooLarge);
    else if (!declared || static_cast<size_t>(*declared) <= bodyBytes)
        FUZZ_REQUIRE(c.state == Arrival::Complete);
    else
        FUZZ_REQUIRE(c.state == Arrival::Incomplete);
}

bool hasDotDotSegment(std::string_view path) {
    size_t start = 0;
    for (;;) {
        const size_t end = path.find_first_of("/\\", start);
        if (path.substr(start, end == std::string_view::npos ? end : end - start) == "..")
            return true;
        if (end == std::string_view::npos)
            return false;
        start = end + 1;
    }
}

// The file name is the base folder followed by the target, "\" read as "/": a target that is
// let through must name something inside the base folder whatever the file system makes of it.
void checkPathSafety(const std::string& path) {
    const bool refused = EscapesBase(path);
    FUZZ_REQUIRE(refused == hasDotDotSegment(path));
    if (refused)
        return;
    std::string name = std::string(kBasePath) + path;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string normal = std::filesystem::path(name).lexically_normal().string();
    FUZZ_REQUIRE(normal.starts_with(kBasePath) ||
                 normal == kBasePath.substr(0, kBasePath.size() - 1));
}

void checkExtension(const std::string& path) {
    const std::string ext = FileExtension(path);
    FUZZ_REQUIRE(ext.size() <= 260);
    FUZZ_REQUIRE(ext.find_first_of(".\\:") == std::string::npos);
    if (!ext.empty())
        FUZZ_REQUIRE(path.substr(path.rfind('.') + 1).starts_with(ext));
}

// Nothing of a plug-in target is lost: its first character, the name, the mark and the query
// give the target back.
void checkPluginSplit(const std::string& path) {
    const size_t mark = path.find('?');
    if (mark == std::string::npos)
        return;
    const PluginTarget target = SplitPluginTarget(path);
    FUZZ_REQUIRE(target.name.find('?') == std::string::npos);
    FUZZ_REQUIRE(path.substr(0, std::min<size_t>(1, mark)) + target.name + "?" + target.query ==
                 path);
}

void checkTarget(std::string_view line, std::string_view method, std::string_view body) {
    const std::optional<std::string> target = MethodTarget(line, method);
    FUZZ_REQUIRE(target.has_value() == line.starts_with(method));
    if (!target)
        return;
    if (!target->empty()) {
        FUZZ_REQUIRE(!IsControl(target->front()) && !IsControl(target->back()));
        // The line ends in the one version token, and the target lies between method and it.
        const size_t version = line.size() - 8;
        FUZZ_REQUIRE(line.size() >= method.size() + 9);
        FUZZ_REQUIRE(line.find("HTTP/1.", method.size() + 1) == version);
        FUZZ_REQUIRE(line.substr(method.size() + 1, version - method.size() - 1).find(*target) !=
                     std::string_view::npos);
    }
    std::string path = *target;
    if (method == "POST") {
        path += "?" + std::string(body);
        FUZZ_REQUIRE(SplitPluginTarget(path).query.ends_with(body));
    }
    checkPathSafety(path);
    checkExtension(path);
    checkPluginSplit(path);
}

void checkRequestLine(std::string_view header, std::string_view body) {
    const std::optional<std::string> line = RequestLine(header);
    FUZZ_REQUIRE(line.has_value() == !(header.empty() || header.front() == '\0'));
    if (!line)
        return;
    FUZZ_REQUIRE(header.starts_with(*line));
    FUZZ_REQUIRE(line->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    if (line->size() < header.size())
        FUZZ_REQUIRE(std::string_view("\r\n\0", 3).find(header[line->size()]) !=
                     std::string_view::npos);
    for (const std::string_view method : {"GET", "POST", "PUT"})
        checkTarget(*line, method, body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Inputs stay far below the header limit (libFuzzer's length cap), so the limit itself is
    // left to the unit tests: repeating an input up to it makes each run a hundred times slower.
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const Completeness c = CheckComplete(received);
    checkCompleteness(received, c);
    if (c.state == Arrival::Complete)
        checkRequestLine(received.substr(0, c.headerLength), received.substr(c.bodyStart - 1));
    else
        checkRequestLine(received, {});
    return 0;
}
