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
// for a page without the area. None while uploads are off, none in the plug-ins folder. Taken
// anywhere under the base folder, every other folder's page offers its own folder; taken into the
// upload folder only, that folder's pages and those below it offer their own, and the top page
// offers the upload folder.
std::optional<std::string> UploadTarget(const PeerSite& site, const std::string& folder,
                                        std::string_view shownPath);

} // namespace uploadoffer
