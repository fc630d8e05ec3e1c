#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The page that lists a folder for a browser: its subfolders, then its files, each a link that
// reaches it. Reading the folder is kept apart from writing the page, so that the page can be
// checked for any name without a file system.
namespace folderpage {

// One listed name as read from the folder (links followed).
struct Entry {
    std::string name; // the name's bytes, as the file system holds them
    bool folder = false;
    int64_t size = 0;
    std::time_t modified = 0;
};

// The whole UTF-8 page listing `folder` (a file-system path ending in "/"), reached by the
// decoded target `requestPath` ("/" at the top). Dot files are left out, and so is the file
// `leaveOut` (compared by device and inode; empty for none). Nullopt when the folder cannot be
// read, a read failing part way included: a listing is never shown cut short. With `uploadTo`
// (the decoded target of a folder, ending in "/") the page carries the area that sends a
// visitor's files there; without it the page only lists.
std::optional<std::string> Page(const std::string& folder, std::string_view requestPath,
                                const std::string& leaveOut,
                                std::optional<std::string_view> uploadTo = std::nullopt);

// The entries of `folder` that a visitor can fetch: folders and regular files (links followed;
// a link whose target is missing is left out), without dot files and `leaveOut`. Unsorted.
// Nullopt when the folder cannot be read to its end.
std::optional<std::vector<Entry>> ReadFolder(const std::string& folder,
                                             const std::string& leaveOut);

// Folders first, then files, each by name without regard to letter case (Unicode case folding
// for UTF-8 names), ties broken by the bytes: the same order whatever order the folder gave.
void Sort(std::vector<Entry>& entries);

// The page for `entries` (sorted here) at `requestPath`, with the upload area as for Page.
std::string Render(std::string_view requestPath, std::vector<Entry> entries,
                   std::optional<std::string_view> uploadTo = std::nullopt);

// One entry's row of the listing, appended to `rows`.
void AppendRow(std::string& rows, const Entry& entry);

// A name as text for the page: valid UTF-8 kept, each byte that is not part of it shown as
// U+FFFD, control bytes as their visible symbols (U+2400 ...), then HTML-escaped.
std::string ShownName(std::string_view name);

// A size for people, in units of 1000: "999 B", "1.2 kB", "12.3 MB", "123 GB".
std::string HumanSize(int64_t bytes);

// Local time to the minute: "2026-12-10 15:07".
std::string LocalTime(std::time_t when);

} // namespace folderpage
