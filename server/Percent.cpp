#include "server/Percent.h"

#include "platform/Text.h"

#include <array>

namespace percent {
namespace {

// The value of the escape starting at `at` (a "%"), or -1 when it is not one.
int EscapeAt(std::string_view text, size_t at) {
    if (at + 2 >= text.size())
        return -1;
    const int high = platform::HexDigitValue(text[at + 1]);
    const int low = platform::HexDigitValue(text[at + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

} // namespace

std::string Decode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        const int value = text[at] == '%' ? EscapeAt(text, at) : -1;
        if (value < 0) {
            decoded += text[at];
            continue;
        }
        decoded += static_cast<char>(value);
        at += 2;
    }
    return decoded;
}

bool HasEscapes(std::string_view text) {
    for (size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1))
        if (EscapeAt(text, at) >= 0)
            return true;
    return false;
}

std::string EncodePath(std::string_view text) {
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (Unreserved(byte)) {
            encoded += c;
            continue;
        }
        encoded += '%';
        encoded += kHex[byte >> 4];
        encoded += kHex[byte & 15];
    }
    return encoded;
}

} // namespace percent
