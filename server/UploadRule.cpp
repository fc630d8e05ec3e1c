#include "server/UploadRule.h"

#include "platform/FolderCalls.h"
#include "platform/FolderPlace.h"

namespace uploadrule {
namespace {

// The folder part of a file name ("." when it has none).
std::string folderOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : name.substr(0, slash);
}

std::optional<upload::Answer> placeInUploadFolder(const Place& place, const std::string& folder) {
    if (place.uploadFolder.empty() || place.basePath.empty() ||
        !platform::FolderWithin(place.uploadFolder, place.basePath))
        return upload::Answer{403, kUploadFolderOutsideBase};
    if (!platform::FolderWithin(folder, place.uploadFolder))
        return upload::Answer{403, kOutsideUploadFolder};
    // The first upload makes the folder (a first run names one that does not exist yet); it is
    // judged again once it is there, links and all.
    if (!platform::IsFolder(place.uploadFolder)) {
        platform::MakeFolder(platform::RealFolder(place.uploadFolder));
        if (!platform::FolderWithin(place.uploadFolder, place.basePath))
            return upload::Answer{403, kUploadFolderOutsideBase};
        if (!platform::FolderWithin(folder, place.uploadFolder))
            return upload::Answer{403, kOutsideUploadFolder};
    }
    return std::nullopt;
}

} // namespace

std::optional<upload::Answer> Check(const Place& place, const std::string& fileName,
                                    int64_t declared, const FreeSpaceOf& freeSpace) {
    const std::string folder = folderOf(fileName);
    switch (place.choice) {
    case UploadsChoice::Off:
        return upload::Answer{403, kSwitchedOff};
    case UploadsChoice::UploadFolder:
        if (std::optional<upload::Answer> refused = placeInUploadFolder(place, folder))
            return refused;
        break;
    case UploadsChoice::UnderBase:
        break;
    }
    const std::optional<uint64_t> room = freeSpace ? freeSpace(folder) : std::nullopt;
    if (room && declared > 0 && static_cast<uint64_t>(declared) > *room)
        return upload::Answer{413, kNoRoom};
    return std::nullopt;
}

} // namespace uploadrule
