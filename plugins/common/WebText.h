// Text helpers shared by the sample modules: form decoding, HTML escaping and the fixed-size
// fields of tpgInfo. Pure functions without shared state, so they are safe on any thread.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace webtext {

// Copies `text` into a fixed field, cut to its size; NUL-terminated when there is room.
template <size_t N> void SetField(char (&field)[N], std::string_view text) {
    const size_t length = text.size() < N ? text.size() : N;
    std::memcpy(field, text.data(), length);
    if (length < N)
        field[length] = '\0';
}

// The value of a hexadecimal digit in either case; -1 for any other character. The modules' own:
// a module builds against plugins/KORUPG.h alone, as a module author's would, never against the
// program's sources.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(c | 0x20); // 'A'-'F' become 'a'-'f'
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The byte that "%XX" at `at` stands for; -1 when no such escape starts there.
inline int EscapedByte(std::string_view text, size_t at) {
    if (text[at] != '%' || at + 2 >= text.size())
        return -1;
    const int high = HexDigitValue(text[at + 1]);
    const int low = HexDigitValue(text[at + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Form encoding: "+" is a blank, "%XX" a byte; a "%" without two hex digits stays as it is.
inline std::string DecodeFormText(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            decoded += ' ';
        } else if (const int byte = EscapedByte(text, i); byte >= 0) {
            decoded += static_cast<char>(byte);
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

using FormFields = std::vector<std::pair<std::string, std::string>>;

// The name=value pairs of a form-encoded text, decoded, in their order; empty pieces are skipped
// and a piece without "=" is a name with an empty value.
inline FormFields ParseFormFields(std::string_view text) {
    FormFields fields;
    while (!text.empty()) {
        const size_t end = text.find('&');
        const std::string_view piece = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (piece.empty())
            continue;
        const size_t equals = piece.find('=');
        fields.emplace_back(DecodeFormText(piece.substr(0, equals)),
                            equals == std::string_view::npos
                                ? std::string()
                                : DecodeFormText(piece.substr(equals + 1)));
    }
    return fields;
}

// The value of the first field called `name`, or `fallback`.
inline std::string FieldValue(const FormFields& fields, std::string_view name,
                              std::string_view fallback = {}) {
    for (const auto& [fieldName, value] : fields)
        if (fieldName == name)
            return value;
    return std::string(fallback);
}

// Everything a visitor typed is escaped before it goes into a page.
inline std::string EscapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// A malloc'd NUL-terminated copy, as tpgQuery::Reply wants it (the server frees it); null when
// memory is short, which the server takes as an empty reply.
inline char* MallocText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace webtext
