#include "server/Router.h"

#include "server/Percent.h"
#include "server/Reply.h"
#include "server/Request.h"
#include "server/Upload.h"

#include <algorithm>

namespace route {
namespace {

Decision Refuse(Decision decision, int status, std::string message) {
    decision.kind = Kind::Error;
    decision.status = status;
    decision.message = std::move(message);
    return decision;
}

std::string Resolve(std::string_view target, std::string_view baseFile) {
    return std::string(target == "/" ? baseFile : target);
}

std::string FileName(std::string_view basePath, std::string_view requestPath) {
    std::string name = std::string(basePath) + std::string(requestPath);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

Decision Module(Decision decision, std::string_view body, bool withBody) {
    const std::string_view target = decision.requestPath;
    const size_t mark = target.find('?');
    const std::string_view before = target.substr(0, mark);
    const std::string_view after =
        mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    decision.kind = Kind::Module;
    decision.module = std::string(before.substr(std::min<size_t>(1, before.size())));
    // A POST's body may be large: it is copied once, straight into the query.
    std::string& query = decision.query;
    query.reserve(after.size() + (withBody ? body.size() + 1 : 0));
    query.append(after);
    if (withBody) {
        if (mark != std::string_view::npos)
            query += '?';
        query.append(body);
    }
    decision.requestPath.resize(before.size());
    return decision;
}

// A name no reader may reach, as received or decoded: outside the base folder, or an upload in
// progress (it waits under a hidden temporary name and is nobody's to read). A decoded name must
// not carry what the raw form could not: a NUL or a control byte.
bool Unreadable(std::string_view path, bool decoded) {
    return request::EscapesBase(path) || upload::NamesTemporary(path) ||
           (decoded && request::HasControlBytes(path));
}

// Fills the names a file target may be found by; false when either may not be read.
bool NameFile(Decision& decision, const Input& input, std::string_view path) {
    if (input.basePath.empty() || Unreadable(path, false))
        return false;
    if (percent::HasEscapes(path)) {
        const std::string decoded = percent::Decode(path);
        if (Unreadable(decoded, true))
            return false;
        decision.decodedFileName = FileName(input.basePath, decoded);
    }
    decision.fileName = FileName(input.basePath, path);
    return true;
}

// GET: a target with a "?" runs a module, any other names a file below the base.
Decision Read(Decision decision, const Input& input, bool defaultTarget) {
    if (decision.requestPath.find('?') != std::string::npos) {
        decision = Module(std::move(decision), {}, false);
        const bool root = decision.requestPath == "/";
        const std::string path = root ? std::string(input.baseFile) : decision.requestPath;
        decision.defaultTarget = root;
        decision.fileFallback = !path.empty() && NameFile(decision, input, path);
        return decision;
    }
    if (!NameFile(decision, input, decision.requestPath))
        return Refuse(std::move(decision), 404, "<h2>File not really found</h2>");
    decision.kind = Kind::File;
    decision.defaultTarget = defaultTarget;
    return decision;
}

// PUT: a "?" is part of the new file's name. A name that could never be created is refused
// before the missing length, which would not make it creatable.
Decision Write(Decision decision, const Input& input) {
    // An empty target names the base folder itself, which no upload can create. The file is
    // stored under the decoded name, as the browser that sent it showed it.
    const std::string decoded = percent::Decode(decision.requestPath);
    if (input.basePath.empty() || decision.requestPath.empty() || decoded.empty() ||
        Unreadable(decision.requestPath, true) || Unreadable(decoded, true)) {
        const std::string name = reply::EscapeHtml(decision.requestPath);
        return Refuse(std::move(decision), 406, "Cannot create such a file: " + name);
    }
    // Without a declared length the end of the body cannot be told from a client that stopped
    // sending: storing what has arrived would report a short file as saved.
    if (request::DeclaresTransferEncoding(input.header) || !request::DeclaredLength(input.header))
        return Refuse(std::move(decision), 411, "Content-Length required");
    decision.kind = Kind::Upload;
    decision.fileName = FileName(input.basePath, decoded);
    return decision;
}

} // namespace

Decision Decide(const Input& input) {
    Decision decision;
    const std::optional<std::string> line = request::RequestLine(input.header);
    if (!line)
        return Refuse(std::move(decision), 400, "You doesn't say anything! Try again");
    decision.logLine = *line;
    // A line matches a method by its first letters only, so "GETX" is taken for a GET.
    if (const auto target = request::MethodTarget(*line, "GET")) {
        decision.requestPath = Resolve(*target, input.baseFile);
        // An empty target (no version, or "/" without a base file) is no request at all.
        if (!decision.requestPath.empty())
            return Read(std::move(decision), input, *target == "/");
    } else if (const auto target = request::MethodTarget(*line, "POST")) {
        decision.requestPath = Resolve(*target, input.baseFile);
        return Module(std::move(decision), input.body, true);
    } else if (const auto target = request::MethodTarget(*line, "PUT")) {
        decision.requestPath = Resolve(*target, input.baseFile);
        return Write(std::move(decision), input);
    }
    return Refuse(std::move(decision), 501, "Request not supported");
}

} // namespace route
