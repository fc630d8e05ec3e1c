#include "platform/FolderCalls.h"

#include "platform/FileCalls.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

namespace platform {

bool IsFolder(const std::string& name) {
    struct stat info {};
    return RetryOnInterrupt([&] { return ::stat(name.c_str(), &info); }) == 0 &&
           S_ISDIR(info.st_mode);
}

bool ForEachName(const std::string& folder, const std::function<void(std::string_view)>& each) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return false;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry)
            return errno == 0;
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            each(name);
    }
}

int MakeFolders(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty())
        return ENOENT;
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = end == std::string::npos ? path : path.substr(0, end);
        if (RetryOnInterrupt([&] { return ::mkdir(part.c_str(), 0777); }) != 0 && errno != EEXIST)
            return errno;
        if (end == std::string::npos)
            return IsFolder(path) ? 0 : EEXIST;
    }
}

} // namespace platform
