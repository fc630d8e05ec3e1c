#pragma once

#include <functional>
#include <string>
#include <string_view>

// Folders as the server reads them: links followed, as for files.
namespace platform {

// True for a folder (links followed), false for anything else or nothing.
bool IsFolder(const std::string& name);

// Calls `each` with every name in `folder` but "." and ".."; false when the folder could not be
// opened or read to its end.
bool ForEachName(const std::string& folder, const std::function<void(std::string_view)>& each);

// Makes `folder` and every missing folder above it, as the process's file mode mask allows. 0 when
// the folder is there afterwards, else the errno of the step that failed (EEXIST when something
// other than a folder has the name).
int MakeFolders(const std::string& folder);

} // namespace platform
