// A request header and a file size taken through byterange::ForRequest: what it answers must lie
// within the file, agree with a reference read from the rules, and never depend on bytes after
// the header.
#include "FuzzCheck.h"
#include "server/ByteRange.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

using byterange::Answer;
using byterange::Kind;

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The value of the first header line after the request line that starts with `upperName`,
// within the header, up to the end of its line.
std::optional<std::string_view> referenceField(std::string_view received,
                                               std::string_view upperName) {
    const std::string_view header = received.substr(0, received.find(kBlankLine));
    for (size_t at = 1; at + upperName.size() <= header.size(); ++at) {
        if (header[at - 1] != '\r' && header[at - 1] != '\n')
            continue;
        bool match = true;
        for (size_t k = 0; k < upperName.size() && match; ++k)
            match = asciiUpper(header[at + k]) == upperName[k];
        if (match) {
            const std::string_view rest = header.substr(at + upperName.size());
            return rest.substr(0, rest.find_first_of("\r\n"));
        }
    }
    return std::nullopt;
}

std::optional<int64_t> referenceNumber(const std::string& digits) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

// The rules of a single byte range, read from a pattern of the whole value.
Answer referenceValue(std::string_view value, int64_t size) {
    static const std::regex pattern("[ \\t]*bytes=([0-9]*)-([0-9]*)[ \\t]*",
                                    std::regex::icase | std::regex::optimize);
    std::match_results<std::string_view::const_iterator> m;
    if (!std::regex_match(value.begin(), value.end(), m, pattern))
        return {};
    const std::string from = m[1].str();
    const std::string to = m[2].str();
    if (from.empty() && to.empty())
        return {};
    const std::optional<int64_t> a =
        from.empty() ? std::optional<int64_t>(0) : referenceNumber(from);
    const std::optional<int64_t> b = to.empty() ? std::optional<int64_t>(0) : referenceNumber(to);
    if (!a || !b)
        return {};
    if (from.empty()) {
        if (*b == 0 || size == 0)
            return {Kind::Unsatisfiable, 0, -1};
        return {Kind::Partial, *b >= size ? 0 : size - *b, size - 1};
    }
    if (!to.empty() && *a > *b)
        return {};
    if (*a >= size)
        return {Kind::Unsatisfiable, 0, -1};
    return {Kind::Partial, *a, to.empty() ? size - 1 : std::min(*b, size - 1)};
}

void checkWithin(const Answer& answer, int64_t size) {
    switch (answer.kind) {
    case Kind::Partial:
        FUZZ_REQUIRE(0 <= answer.first && answer.first <= answer.last && answer.last < size);
        FUZZ_REQUIRE(answer.length() >= 1 && answer.length() <= size);
        break;
    case Kind::Whole:
    case Kind::Unsatisfiable:
        FUZZ_REQUIRE(answer.first == 0 && answer.last == -1);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks the file's size: small sizes as they are, the rest from the next
    // eight bytes, up to the largest a file may have.
    if (size < 1)
        return 0;
    int64_t fileSize = data[0] < 200 ? data[0] : 0;
    size_t skip = 1;
    if (data[0] >= 200 && size >= 9) {
        uint64_t raw = 0;
        std::memcpy(&raw, data + 1, sizeof raw);
        fileSize = static_cast<int64_t>(raw >> 1);
        skip = 9;
    }
    const std::string_view received(reinterpret_cast<const char*>(data) + skip, size - skip);

    const Answer answer = byterange::ForRequest(received, fileSize);
    checkWithin(answer, fileSize);

    const std::optional<std::string_view> field = referenceField(received, "RANGE:");
    if (!field || referenceField(received, "IF-RANGE:")) {
        FUZZ_REQUIRE(answer.kind == Kind::Whole);
    } else {
        FUZZ_REQUIRE(answer == referenceValue(*field, fileSize));
        FUZZ_REQUIRE(byterange::ForValue(*field, fileSize) == answer);
    }
    // Only the header counts: a body that names a range changes nothing.
    const size_t blank = received.find(kBlankLine);
    if (blank != std::string_view::npos)
        FUZZ_REQUIRE(byterange::ForRequest(received.substr(0, blank), fileSize) == answer);
    // A part written back as a range asks for exactly that part.
    if (answer.kind == Kind::Partial) {
        const std::string again =
            "bytes=" + std::to_string(answer.first) + "-" + std::to_string(answer.last);
        FUZZ_REQUIRE(byterange::ForValue(again, fileSize) == answer);
    }
    return 0;
}
