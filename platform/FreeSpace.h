#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The bytes a normal user may still write to the file system that holds `folder` (what is left
// after the part kept for the administrator); nullopt when the folder cannot be looked at.
std::optional<uint64_t> FreeSpace(const std::string& folder);

} // namespace platform
