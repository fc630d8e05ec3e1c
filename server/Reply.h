#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Composition of every byte the server sends. Pure functions: no socket, thread or settings.
namespace reply {

// "HTTP/1.0 <code> <reason>\r\n"; codes outside the table read "Unknown status".
std::string StatusLine(int32_t code);
const char* ReasonPhrase(int32_t code);
// The status code a reply begins with ("HTTP/1.x NNN ..."); 0 when it begins otherwise.
int32_t StatusOf(std::string_view reply);

// The short HTML page used for every error and confirmation reply, with its status and header.
std::string PageReply(int32_t code, std::string_view message);

// The text with "<", ">", "&" and '"' written as entities, for text taken from a request that
// goes into a page: a visitor's target must not become markup in somebody's browser.
std::string EscapeHtml(std::string_view text);

// `type` unchanged unless it is empty or only blanks/control characters: then "binary/data".
std::string DefaultContentType(std::string_view type);

// The header lines of a file reply (after the status line), for a type and a size in bytes;
// `extraLines` (whole lines, each ending in CR LF) go last, before the blank line.
std::string FileHeader(std::string_view contentType, int64_t size,
                       std::string_view extraLines = {});

// A plug-in's reply: its status, its extra header lines (a type line is added unless one is
// there) and the page (page header + body + page footer).
std::string PluginReply(int32_t status, std::string header, std::string_view page);

} // namespace reply
