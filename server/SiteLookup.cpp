#include "server/SiteLookup.h"

#include "platform/FileCalls.h"
#include "platform/FolderCalls.h"
#include "server/FolderMemo.h"

#include <QString>

#include <algorithm>
#include <array>
#include <optional>

namespace lookup {
namespace {

// For each of `names`, the regular file in `folder` that matches it without regard to case, the
// first by bytes; empty where none does or the folder cannot be read.
template <size_t N>
std::array<std::string, N> CaseMatches(const std::string& folder,
                                       const std::array<std::string_view, N>& names) {
    std::array<QString, N> wanted;
    for (size_t i = 0; i < N; ++i)
        wanted[i] = QString::fromUtf8(names[i].data(), static_cast<qsizetype>(names[i].size()));
    std::array<std::string, N> best;
    const bool read = platform::ForEachName(folder, [&](std::string_view entry) {
        const QString text = QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
        for (size_t i = 0; i < N; ++i) {
            if (names[i].empty() || text.compare(wanted[i], Qt::CaseInsensitive) != 0)
                continue;
            if ((best[i].empty() || entry < best[i]) &&
                platform::IsRegularFile(folder + std::string(entry)))
                best[i] = entry;
        }
    });
    for (std::string& match : best)
        if (!match.empty())
            match = read ? folder + match : std::string();
    return best;
}

Found File(std::string path, bool asNamed = false) {
    return {Kind::File, std::move(path), asNamed};
}

// A folder's own document: the default document, else index.html, else index.htm, each first by
// its exact name, then without regard to case. The folder is read once at most. A default
// document in a folder of its own ("a/b") is looked for by its exact name only.
std::optional<std::string> ReadFolderDocument(const std::string& folder,
                                              std::string_view baseFile) {
    const bool plainBase = baseFile.find_first_of("/\\") == std::string_view::npos;
    const std::array<std::string_view, 3> names{plainBase ? baseFile : "", "index.html",
                                                "index.htm"};
    std::optional<std::array<std::string, 3>> matches;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty())
            continue;
        if (const std::string exact = folder + std::string(names[i]);
            platform::IsRegularFile(exact))
            return exact;
        if (!matches)
            matches = CaseMatches(folder, names);
        if (!(*matches)[i].empty())
            return (*matches)[i];
    }
    return std::nullopt;
}

// Documents found lately, by folder and default document: a folder asked for many times a second
// is read once.
foldermemo::Memo<std::optional<std::string>>& Documents() {
    static foldermemo::Memo<std::optional<std::string>> documents(64, 256 * 1024);
    return documents;
}

std::optional<std::string> FolderDocument(const std::string& folder, std::string_view baseFile,
                                          const foldermemo::Stamp& stamp) {
    const std::string key = folder + '\0' + std::string(baseFile);
    if (const auto known = Documents().Find(key, stamp))
        return *known;
    auto found =
        std::make_shared<const std::optional<std::string>>(ReadFolderDocument(folder, baseFile));
    Documents().Keep(key, stamp, found, key.size() + (*found ? (*found)->size() : 0));
    return *found;
}

std::string WithSlash(std::string_view path) {
    std::string result(path);
    if (result.empty() || result.back() != '/')
        result += '/';
    return result;
}

Found Folder(const std::string& folder, const Site& site, const foldermemo::Stamp& stamp) {
    if (auto document = FolderDocument(folder, site.baseFile, stamp))
        return File(std::move(*document));
    return {Kind::Folder, folder, false};
}

// "/" stands for the base file; where it is missing by that exact name, the same name in another
// letter case serves, and with folder pages on, the base folder's own document or page.
Found Start(const Site& site) {
    // The folder helpers end a folder's name with "\", which the file layer reads as "/".
    std::string base(site.basePath);
    std::replace(base.begin(), base.end(), '\\', '/');
    if (site.folderPages)
        if (const auto stamp = foldermemo::StampOf(base))
            return Folder(WithSlash(base), site, *stamp);
    if (site.baseFile.find_first_of("/\\") == std::string_view::npos)
        if (std::string match = CaseMatch(base, site.baseFile); !match.empty())
            return File(std::move(match));
    return {};
}

} // namespace

std::string CaseMatch(const std::string& folder, std::string_view name) {
    return CaseMatches(folder, std::array<std::string_view, 1>{name})[0];
}

Found Find(const Target& target, const Site& site) {
    const std::string raw(target.fileName);
    if (platform::IsRegularFile(raw))
        return File(raw, true);
    const std::string name =
        target.decodedFileName.empty() ? raw : std::string(target.decodedFileName);
    if (!target.decodedFileName.empty() && platform::IsRegularFile(name))
        return File(name);
    if (target.defaultTarget)
        return Start(site);
    const auto stamp = site.folderPages ? foldermemo::StampOf(name) : std::nullopt;
    if (!stamp)
        return {};
    if (name.back() != '/')
        return {Kind::Redirect, WithSlash(target.requestPath), false};
    return Folder(name, site, *stamp);
}

} // namespace lookup
