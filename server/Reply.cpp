#include "server/Reply.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace reply {
namespace {

constexpr std::array<std::pair<int32_t, const char*>, 41> kReasons{{
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Time-out"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Large"},
    {415, "Unsupported Media Type"},
    {416, "Requested range not satisfiable"},
    {417, "Expectation Failed"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Time-out"},
    {505, "HTTP Version not supported"},
    {0, nullptr},
}};

bool containsTypeLine(std::string_view header) {
    static constexpr std::string_view kType = "CONTENT-TYPE: ";
    const auto it =
        std::search(header.begin(), header.end(), kType.begin(), kType.end(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        });
    return it != header.end();
}

} // namespace

const char* ReasonPhrase(int32_t code) {
    for (const auto& [value, text] : kReasons)
        if (text && value == code)
            return text;
    return "Unknown status";
}

std::string StatusLine(int32_t code) {
    return "HTTP/1.0 " + std::to_string(code) + " " + ReasonPhrase(code) + "\r\n";
}

std::string PageReply(int32_t code, std::string_view message) {
    std::string page = "<HTML><h2>";
    page += message;
    page += "</h2></HTML>";
    return StatusLine(code) +
           "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
           "\r\nContent:\r\n\r\n" + page;
}

std::string DefaultContentType(std::string_view type) {
    const bool blank = std::all_of(type.begin(), type.end(),
                                   [](char c) { return static_cast<unsigned char>(c) <= ' '; });
    return blank ? std::string("binary/data") : std::string(type);
}

std::string FileHeader(std::string_view contentType, int64_t size, std::string_view extraLines) {
    std::string header = "Server: Mirelton/0.3\r\nContent-Type: ";
    header += contentType;
    header += "\r\nContent-Length: " + std::to_string(size) + "\r\n";
    header += extraLines;
    header += "\r\n";
    return header;
}

std::string PluginReply(int32_t status, std::string header, std::string_view page) {
    if (!containsTypeLine(header))
        header += "Content-type: text/html\r\n";
    std::string text = StatusLine(status) + header +
                       "Content-Length: " + std::to_string(page.size()) + "\r\nContent:\r\n\r\n";
    text += page;
    return text;
}

std::string EscapeHtml(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '&':
            result += "&amp;";
            break;
        case '"':
            result += "&quot;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

int32_t StatusOf(std::string_view reply) {
    constexpr std::string_view kVersion = "HTTP/1.";
    if (reply.size() < kVersion.size() + 5 || !reply.starts_with(kVersion) ||
        reply[kVersion.size() + 1] != ' ')
        return 0;
    int32_t code = 0;
    for (const char c : reply.substr(kVersion.size() + 2, 3)) {
        if (c < '0' || c > '9')
            return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

} // namespace reply
