#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The part of a folder page that sends a visitor's files to the server: a file picker and a drop
// target, a progress bar per file, and a script that PUTs each file's bytes as they are (no form
// encoding) under its own name, or the next free one, "name (2).ext" and so on, since the server
// never replaces a file. Inline style and script only: the page needs nothing from elsewhere.
namespace uploadarea {

// Appends the area to a page's body. `folderPath` is the decoded target of the folder the files
// go to, ending in "/" ("/" at the top); it is percent-encoded and escaped here.
void Append(std::string& body, std::string_view folderPath);

// The bytes Append adds besides the encoded folder path, to reserve room for them.
size_t MarkupSize();

} // namespace uploadarea
