#include "server/UploadOffer.h"

#include "server/KORUMClient.h"
#include "server/Upload.h"

namespace uploadoffer {

std::optional<std::string> UploadTarget(const PeerSite& site, const std::string& folder,
                                        std::string_view shownPath) {
    // Any name in the folder stands for the file an upload would create there.
    if (upload::InsideFolder(folder + "x", site.pluginsFolder))
        return std::nullopt;
    return std::string(shownPath);
}

} // namespace uploadoffer
