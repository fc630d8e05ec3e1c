#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace folderpage {
std::optional<std::string> Page(const std::string& folder, std::string_view requestPath,
                                const std::string& leaveOut);
}
