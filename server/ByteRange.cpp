#include "server/ByteRange.h"

#include "server/Request.h"

#include <cctype>
#include <limits>
#include <optional>

namespace byterange {
namespace {

constexpr std::string_view kRange = "RANGE:";
constexpr std::string_view kIfRange = "IF-RANGE:";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A run of decimal digits, the whole text; nullopt when it is empty, holds anything else, or
// does not fit 63 bits.
std::optional<int64_t> number(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool startsWithNoCase(std::string_view text, std::string_view lower) {
    if (text.size() < lower.size())
        return false;
    for (size_t i = 0; i < lower.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i])
            return false;
    return true;
}

Answer partial(int64_t first, int64_t last) {
    return {Kind::Partial, first, last};
}

} // namespace

Answer ForValue(std::string_view value, int64_t size) {
    const Answer whole;
    const Answer unsatisfiable{Kind::Unsatisfiable, 0, -1};
    value = trimBlanks(value);
    // The unit is compared without regard to case; only bytes are known here.
    if (!startsWithNoCase(value, "bytes="))
        return whole;
    const std::string_view set = value.substr(6);
    // Several ranges would need a multipart body; the whole file serves such a client too.
    const size_t dash = set.find('-');
    if (dash == std::string_view::npos || set.find(',') != std::string_view::npos)
        return whole;
    const std::string_view from = set.substr(0, dash);
    const std::string_view to = set.substr(dash + 1);
    if (from.empty()) {
        const std::optional<int64_t> suffix = number(to);
        if (!suffix)
            return whole;
        if (*suffix == 0 || size <= 0)
            return unsatisfiable;
        return partial(*suffix >= size ? 0 : size - *suffix, size - 1);
    }
    const std::optional<int64_t> first = number(from);
    const std::optional<int64_t> last = to.empty() ? std::optional<int64_t>(size - 1) : number(to);
    if (!first || !last || (!to.empty() && *first > *last))
        return whole;
    if (*first >= size)
        return unsatisfiable;
    return partial(*first, std::min(*last, size - 1));
}

Answer ForRequest(std::string_view header, int64_t size) {
    const std::optional<std::string_view> field = request::FieldValue(header, kRange);
    if (!field)
        return {};
    // A client that names a validator wants the range only of the version it has; the server
    // gives its files none, so it cannot tell, and the whole file is the one safe answer.
    if (request::FieldValue(header, kIfRange))
        return {};
    return ForValue(field->substr(0, field->find_first_of("\r\n")), size);
}

} // namespace byterange
