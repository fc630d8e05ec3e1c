#pragma once

#include <optional>
#include <string>
#include <string_view>

struct PeerSite;

// Which folder pages carry the upload area, and where the files added on them go. One rule for
// the worker to ask, so that a page never offers an upload the server would refuse anyway.
namespace uploadoffer {

// The decoded target (ending in "/") of the folder that files added on the page of `folder` (a
// file-system path ending in "/", shown at the decoded target `shownPath`) are sent to; nullopt
// for a page without the area. Uploads are taken anywhere under the base folder but in the
// plug-ins folder, so every other folder's page offers its own folder.
std::optional<std::string> UploadTarget(const PeerSite& site, const std::string& folder,
                                        std::string_view shownPath);

} // namespace uploadoffer
