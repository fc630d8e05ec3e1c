#include "platform/FolderPlace.h"

#include "platform/FolderCalls.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace platform {
namespace {

std::string resolved(const std::string& name) {
    char buffer[PATH_MAX];
    return ::realpath(name.empty() ? "." : name.c_str(), buffer) != nullptr ? std::string(buffer)
                                                                            : std::string();
}

// "a/b/" and "a/b" name the same folder; "/" stays itself.
std::string withoutTrailingSlashes(std::string name) {
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return name;
}

} // namespace

std::string RealFolder(const std::string& folder) {
    const std::string name = withoutTrailingSlashes(folder);
    if (std::string found = resolved(name); !found.empty())
        return found;
    const size_t slash = name.rfind('/');
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    // A last step of "." or ".." would name another folder than the one to be made.
    if (last.empty() || last == "." || last == "..")
        return {};
    const std::string parent = resolved(
        slash == std::string::npos ? std::string(".")
                                   : (slash == 0 ? std::string("/") : name.substr(0, slash)));
    if (parent.empty())
        return {};
    return parent == "/" ? "/" + last : parent + "/" + last;
}

bool FolderWithin(const std::string& inner, const std::string& outer) {
    const std::string in = RealFolder(inner);
    const std::string out = RealFolder(outer);
    if (in.empty() || out.empty())
        return false;
    return out == "/" || in == out || in.starts_with(out + "/");
}

bool MakeFolder(const std::string& folder) {
    return ::mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && IsFolder(folder));
}

} // namespace platform
