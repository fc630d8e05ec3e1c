#pragma once

#include <cstddef>
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

// The parts of a folder listing's body, kept here beside the style that lays them out: the
// start (with a link to the parent folder when `withParent`), the rows, then the end.
void AppendListingStart(std::string& body, bool withParent);

// What a file holds, as far as its icon tells.
enum class FileKind { Other, Image, Video, Audio };

// One row: `href` (already percent-encoded), `nameHtml` (already escaped), `size` and `time`
// (plain text without markup characters; `size` empty for a folder).
struct ListingRow {
    std::string_view href;
    std::string_view nameHtml;
    std::string_view size;
    std::string_view time;
    bool folder = false;
    FileKind kind = FileKind::Other;
};
void AppendListingRow(std::string& body, const ListingRow& row);

// The bytes AppendListingRow adds besides the row's own texts, to reserve room for many rows.
inline constexpr size_t kListingRowMarkup = 160;

// The end: the listing closed and a line counting its folders and files.
void AppendListingEnd(std::string& body, size_t folders, size_t files);

} // namespace webpage
