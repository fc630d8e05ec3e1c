#pragma once

#include <string>
#include <string_view>

// What a GET for a file target finds in the base folder, after the router has made its names
// safe: the file by the name as received, else by its decoded name, the default document without
// regard to letter case, and, with folder pages on, a folder's default document or its page.
namespace lookup {

struct Target {
    std::string_view fileName;        // the base folder and the target as received
    std::string_view decodedFileName; // the same decoded; empty when decoding changes nothing
    std::string_view requestPath;     // the target as received, for a redirect
    bool defaultTarget = false;       // "/": fileName names the base file
};

struct Site {
    std::string_view basePath; // the base folder, with its final "/"
    std::string_view baseFile; // the default document
    bool folderPages = false;
};

enum class Kind {
    File,     // path: the file to send
    Folder,   // path: the folder to list, with its final "/"
    Redirect, // path: where the folder is, its final "/" added (a Location)
    Missing,
};

struct Found {
    Kind kind = Kind::Missing;
    std::string path;
    // File: found by its name as received, so that its type comes from the target as before.
    bool asNamed = false;
};

Found Find(const Target& target, const Site& site);

// The regular file in `folder` (ending in "/") whose name equals `name` without regard to letter
// case; of several, the first by bytes. Empty when there is none or the folder cannot be read.
std::string CaseMatch(const std::string& folder, std::string_view name);

} // namespace lookup
