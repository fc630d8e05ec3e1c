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

} // namespace platform
