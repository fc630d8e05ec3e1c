#include "server/UploadOffer.h"

#include "platform/FolderPlace.h"
#include "server/KORUMClient.h"
#include "server/Upload.h"

namespace uploadoffer {
namespace {

// The upload folder as a visitor names it: its place below the base folder, both resolved, so
// that the top page sends its files where the server takes them.
std::optional<std::string> uploadFolderTarget(const PeerSite& site) {
    const std::string base = platform::RealFolder(site.baseFolder);
    const std::string uploads = platform::RealFolder(site.uploadFolder);
    if (base.empty() || uploads.empty())
        return std::nullopt;
    std::string target = base == "/" ? uploads : uploads.substr(base.size());
    if (!target.starts_with('/'))
        target.insert(0, 1, '/');
    if (!target.ends_with('/'))
        target += '/';
    return target;
}

} // namespace

std::optional<std::string> UploadTarget(const PeerSite& site, const std::string& folder,
                                        std::string_view shownPath) {
    // Any name in the folder stands for the file an upload would create there.
    if (upload::InsideFolder(folder + "x", site.pluginsFolder))
        return std::nullopt;
    switch (site.sources.uploads) {
    case UploadsChoice::Off:
        return std::nullopt;
    case UploadsChoice::UnderBase:
        return std::string(shownPath);
    case UploadsChoice::UploadFolder:
        break;
    }
    if (site.uploadFolder.empty() || site.baseFolder.empty() ||
        !platform::FolderWithin(site.uploadFolder, site.baseFolder))
        return std::nullopt;
    if (platform::FolderWithin(folder, site.uploadFolder))
        return std::string(shownPath);
    if (shownPath == "/")
        return uploadFolderTarget(site);
    return std::nullopt;
}

} // namespace uploadoffer
