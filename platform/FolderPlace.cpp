#include "platform/FolderPlace.h"

#include "platform/FolderCalls.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

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
    std::string name = withoutTrailingSlashes(folder);
    // The steps that do not exist yet, last first, below the nearest folder that does.
    std::vector<std::string> missing;
    for (;;) {
        if (std::string found = resolved(name); !found.empty()) {
            for (auto step = missing.rbegin(); step != missing.rend(); ++step)
                found += (found == "/" ? "" : "/") + *step;
            return found;
        }
        const size_t slash = name.rfind('/');
        const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
        // A step of "." or ".." would name another folder than the one to be made.
        if (last.empty() || last == "." || last == "..")
            return {};
        missing.push_back(last);
        name = slash == std::string::npos ? std::string(".")
                                          : withoutTrailingSlashes(name.substr(0, slash + 1));
        if (name.empty())
            return {};
    }
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
