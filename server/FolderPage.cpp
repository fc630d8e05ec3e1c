#include "server/FolderPage.h"

#include "platform/FolderCalls.h"
#include "server/Percent.h"
#include "server/Reply.h"
#include "server/WebPage.h"

#include <algorithm>
#include <vector>

namespace folderpage {
std::optional<std::string> Page(const std::string& folder, std::string_view requestPath,
                                const std::string& leaveOut) {
    std::vector<std::string> names;
    if (!platform::ForEachName(folder, [&](std::string_view name) {
            if (!name.starts_with('.') && folder + std::string(name) != leaveOut)
                names.emplace_back(name);
        }))
        return std::nullopt;
    std::sort(names.begin(), names.end());
    std::string rows;
    for (const std::string& name : names) {
        const std::string shown = platform::IsFolder(folder + name) ? name + "/" : name;
        rows += "<p><a href=\"" + percent::EncodePath(shown) + "\">" + reply::EscapeHtml(shown) +
                "</a></p>";
    }
    return webpage::Page(std::string(requestPath), rows);
}
} // namespace folderpage
