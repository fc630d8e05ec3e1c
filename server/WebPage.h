#pragma once

#include <string>
#include <string_view>

// The pages KORU writes itself (a folder's contents, a moved folder, a range past the end): one
// small built-in template, so that every such page looks the same on a phone and a desktop.
namespace webpage {

// A whole UTF-8 page: `title` (plain text, escaped here) in the title and the heading, then
// `bodyHtml` (markup, already escaped by the caller).
std::string Page(std::string_view title, std::string_view bodyHtml);

// A reply with `status` carrying `page`, typed "text/html; charset=utf-8", with `extraHeader`
// (whole lines, each ending in CR LF) after the status line.
std::string Reply(int status, std::string_view page, std::string_view extraHeader = {});

} // namespace webpage
