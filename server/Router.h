#pragma once

#include <optional>
#include <string>
#include <string_view>

// What a worker does with a whole request, decided from its bytes and two settings alone: no
// socket, thread, file system or module list, so that every routing rule can be tested from one
// table.
//
// What the decision cannot know stays with the worker, after it:
//   File   - is `fileName` (else `decodedFileName`) a regular file, or a folder (else 404 "<h2>File
//   not really found</h2>"), can it be
//            opened and share-locked (else 404 "Unable to open this file for read");
//   Upload - does `fileName` exist already, or was a streamed body refused at the header (406
//            "File already exists"), and what publishing the file says;
//   Module - is `module` loaded (else 500) and did it run (else 405);
// and before it: a request too large (413), and whether a PUT streams its body.
namespace route {

struct Input {
    std::string_view header;   // the bytes before the first CR LF CR LF
    std::string_view body;     // the bytes after it; a POST hands them to its module
    std::string_view baseFile; // what a target of "/" stands for
    std::string_view basePath; // the base folder with its trailing "/"; empty when none is set
};

enum class Kind { File, Upload, Module, Error };

struct Decision {
    Kind kind = Kind::Error;
    // The target as replies and logs name it, "/" standing for the base file; empty for a request
    // that names no target. Module: only the text before the first "?", so that a POST's body is
    // not copied again; the whole target is requestPath + "?" + query (a POST's body follows a
    // "?" there).
    std::string requestPath;
    std::string fileName; // File, Upload: the base folder and the target, "\" read as "/"
    // File: the same with the target percent-decoded, as browsers write blanks and accents;
    // empty when decoding changes nothing. Tried only when no file has the name as received.
    // Upload: fileName itself is decoded.
    std::string decodedFileName;
    // File: the target was "/", which stands for the base file (or the base folder's page).
    bool defaultTarget = false;
    // Module, GET only: a file of the name before the "?" may answer when no module of that name
    // is loaded (a link decorated with a query by whoever passed it on). fileName,
    // decodedFileName and defaultTarget then name that file.
    bool fileFallback = false;
    std::string module; // Module
    std::string query;  // Module
    int status = 0;     // Error: the code and the text of the error page
    std::string message;
    // The request line, as received; none when the header has no line at all.
    std::optional<std::string> logLine;
};

Decision Decide(const Input& input);

} // namespace route
