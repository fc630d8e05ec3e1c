#pragma once

#include "config/AccessChoices.h"
#include "server/Upload.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Whether an upload may be taken, decided at its header from where it would go and how large it
// says it is: a refused upload stores no byte of its body.
namespace uploadrule {

// The bytes free for a new file in a folder; nullopt when the folder cannot be looked at.
using FreeSpaceOf = std::function<std::optional<uint64_t>(const std::string& folder)>;

struct Place {
    UploadsChoice choice = UploadsChoice::UnderBase;
    std::string basePath;     // the base folder, in the file system's encoding
    std::string uploadFolder; // the upload folder, likewise; "" when none is set
};

inline constexpr const char* kSwitchedOff = "Uploads are switched off";
inline constexpr const char* kOutsideUploadFolder = "Uploads are taken into the upload folder only";
inline constexpr const char* kUploadFolderOutsideBase =
    "The upload folder lies outside the base folder: no upload is taken";
inline constexpr const char* kNoRoom = "Not enough free space for this upload";

// The refusal of an upload of `declared` bytes to `fileName` (base folder and decoded target), or
// nullopt when it may go on. Into the upload folder only, the folder it goes to must be the
// upload folder or lie below it, links followed; a missing upload folder is made for the first
// upload that goes there. A declared length above the free space of its folder is refused with
// 413.
std::optional<upload::Answer> Check(const Place& place, const std::string& fileName,
                                    int64_t declared, const FreeSpaceOf& freeSpace);

} // namespace uploadrule
