#pragma once

#include <optional>
#include <string>
#include <string_view>

// What a worker does with a whole request, decided from its bytes and two settings alone: no
// socket, thread, file system or module list, so that every routing rule can be tested from one
// table.
//
// What the decision cannot know stays with the worker, after it:
//   File   - is `fileName` a regular file (else 404 "<h2>File not really found</h2>"), can it be
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
    std::string module;   // Module
    std::string query;    // Module
    int status = 0;       // Error: the code and the text of the error page
    std::string message;
    // The request line, as received; none when the header has no line at all.
    std::optional<std::string> logLine;
};

Decision Decide(const Input& input);

} // namespace route
