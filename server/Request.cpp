#include "server/Request.h"

#include <algorithm>
#include <cctype>

namespace request {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kContentLength = "CONTENT-LENGTH:";

size_t findUpper(std::string_view text, std::string_view upperNeedle) {
    const auto it = std::search(
        text.begin(), text.end(), upperNeedle.begin(), upperNeedle.end(),
        [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
    return it == text.end() ? std::string_view::npos : static_cast<size_t>(it - text.begin());
}

bool startsWithUpper(std::string_view text, std::string_view upperPrefix) {
    return text.size() >= upperPrefix.size() &&
           findUpper(text.substr(0, upperPrefix.size()), upperPrefix) == 0;
}

} // namespace

std::optional<std::string_view> FieldValue(std::string_view received, std::string_view upperName) {
    // Only the header holds fields: a body, a target or another field's value that merely
    // contains the name must not count as the field.
    const std::string_view header = received.substr(0, received.find(kBlankLine));
    const size_t firstLineEnd = header.find_first_of("\r\n");
    if (firstLineEnd == std::string_view::npos)
        return std::nullopt;
    for (size_t line = firstLineEnd; line < header.size(); ++line) {
        if (header[line] != '\r' && header[line] != '\n')
            continue;
        if (startsWithUpper(header.substr(line + 1), upperName))
            return header.substr(line + 1 + upperName.size());
    }
    return std::nullopt;
}

std::optional<int64_t> DeclaredLength(std::string_view received) {
    // A body that merely contains the name must not make a request wait for bytes that never
    // come.
    const std::optional<std::string_view> field = FieldValue(received, kContentLength);
    if (!field)
        return std::nullopt;
    // The value ends with the header too: digits in the body are no part of it, or a request
    // whose field is blank would wait for a length that depends on how its bytes arrived.
    std::string_view rest = *field;
    // Codes compare unsigned: a byte above 127 is a character at or above "0", not a blank.
    while (!rest.empty() && static_cast<unsigned char>(rest.front()) < '0')
        rest.remove_prefix(1);
    int64_t value = 0;
    for (const char c : rest) {
        if (c < '0' || c > '9')
            break;
        // Compared before it grows, so that no number of digits can overflow it.
        const int digit = c - '0';
        if (value > (kMaxBodyBytes - digit) / 10)
            return kMaxBodyBytes + 1;
        value = value * 10 + digit;
    }
    return value;
}

Completeness CheckComplete(std::string_view received) {
    Completeness result;
    const size_t p = received.find(kBlankLine);
    if (p == std::string_view::npos) {
        if (received.size() >= kMaxHeaderBytes)
            result.state = Arrival::TooLarge;
        return result;
    }
    result.headerLength = p;
    result.bodyStart = p + kBlankLine.size() + 1;
    const std::optional<int64_t> length = DeclaredLength(received);
    if (length && *length > kMaxHeldBodyBytes)
        result.state = Arrival::TooLarge;
    else if (!length || static_cast<int64_t>(result.bodyStart - 1) + *length <=
                            static_cast<int64_t>(received.size()))
        result.state = Arrival::Complete;
    return result;
}

std::optional<std::string> RequestLine(std::string_view header) {
    header = header.substr(0, header.find('\0'));
    if (header.empty())
        return std::nullopt;
    return std::string(header.substr(0, header.find_first_of("\r\n")));
}

std::optional<std::string> MethodTarget(std::string_view line, std::string_view method) {
    if (!line.starts_with(method))
        return std::nullopt;
    const std::string_view rest = line.substr(std::min(line.size(), method.size() + 1));
    const size_t version = rest.find("HTTP/1.");
    if (version == std::string_view::npos || rest.size() < 8 || version != rest.size() - 8)
        return std::string();
    return std::string(TrimControls(rest.substr(0, version)));
}

std::string FileExtension(std::string_view requestPath) {
    const size_t dot = requestPath.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    const std::string_view after = requestPath.substr(dot + 1);
    if (after.find_first_of("\\:") != std::string_view::npos)
        return {};
    return std::string(after.substr(0, 260));
}

bool EscapesBase(std::string_view requestPath) {
    size_t start = 0;
    while (start <= requestPath.size()) {
        const size_t end = std::min(requestPath.find_first_of("/\\", start), requestPath.size());
        if (requestPath.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

PluginTarget SplitPluginTarget(std::string_view requestPath) {
    const size_t mark = requestPath.find('?');
    PluginTarget target;
    const std::string_view before = requestPath.substr(0, mark);
    target.name = std::string(before.substr(std::min<size_t>(1, before.size())));
    if (mark != std::string_view::npos)
        target.query = std::string(requestPath.substr(mark + 1));
    return target;
}

bool DeclaresTransferEncoding(std::string_view header) {
    // A field starts a line; the request line itself cannot be one.
    static constexpr std::string_view kField = "\nTRANSFER-ENCODING:";
    return findUpper(header, kField) != std::string_view::npos;
}

bool HasControlBytes(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

std::string EscapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F) {
            result += "\\x";
            result += kHex[b >> 4];
            result += kHex[b & 15];
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace request
