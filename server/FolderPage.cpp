#include "server/FolderPage.h"

#include "platform/FileCalls.h"
#include "server/Percent.h"
#include "server/Reply.h"
#include "server/UploadArea.h"
#include "server/WebPage.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace folderpage {
namespace {

struct CloseFolder {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using FolderStream = std::unique_ptr<DIR, CloseFolder>;

struct Identity {
    dev_t device;
    ino_t inode;
};

std::optional<Identity> IdentityOf(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return Identity{info.st_dev, info.st_ino};
}

// Failures that mean an entry is not there for a visitor (a link to nothing, a name that went
// meanwhile, a target out of reach) rather than that the folder could not be read.
bool EntryGone(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == EACCES ||
           error == ENAMETOOLONG;
}

bool Continuation(std::string_view text, size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `at` (no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when none starts there.
size_t SequenceLength(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return 1;
    const auto second = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0u;
    size_t length = 0;
    bool secondFits = false;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        secondFits = Continuation(text, at + 1);
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        secondFits = second >= low && second <= high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        secondFits = second >= low && second <= high;
    }
    if (length == 0 || !secondFits)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if (!Continuation(text, at + k))
            return 0;
    return length;
}

void AppendCodePoint(std::string& out, unsigned code) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
}

// The name as text a browser shows as it stands; still to be escaped.
std::string ShownText(std::string_view name) {
    constexpr unsigned kReplacement = 0xFFFD;
    constexpr unsigned kControlPictures = 0x2400;
    constexpr unsigned kDeletePicture = 0x2421;
    std::string shown;
    shown.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        const size_t length = SequenceLength(name, at);
        if (length == 0)
            AppendCodePoint(shown, kReplacement);
        else if (byte < 0x20)
            AppendCodePoint(shown, kControlPictures + byte);
        else if (byte == 0x7F)
            AppendCodePoint(shown, kDeletePicture);
        else
            shown.append(name.substr(at, length));
        at += length == 0 ? 1 : length;
    }
    return shown;
}

// The kind of file its name's extension suggests, for the icon of its row.
webpage::FileKind KindOf(std::string_view name) {
    static constexpr std::string_view kImages[] = {"jpg",  "jpeg", "png", "gif", "webp", "heic",
                                                   "heif", "avif", "bmp", "tif", "tiff", "svg"};
    static constexpr std::string_view kVideos[] = {"mp4", "m4v", "mov",  "mkv", "webm",
                                                   "avi", "mpg", "mpeg", "3gp", "ogv"};
    static constexpr std::string_view kAudio[] = {"mp3", "m4a",  "aac", "flac", "ogg",
                                                  "oga", "opus", "wav", "wma"};
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot > 6)
        return webpage::FileKind::Other;
    std::string extension(name.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    const auto in = [&](const auto& list) {
        return std::find(std::begin(list), std::end(list), extension) != std::end(list);
    };
    if (in(kImages))
        return webpage::FileKind::Image;
    if (in(kVideos))
        return webpage::FileKind::Video;
    if (in(kAudio))
        return webpage::FileKind::Audio;
    return webpage::FileKind::Other;
}

} // namespace

std::optional<std::vector<Entry>> ReadFolder(const std::string& folder,
                                             const std::string& leaveOut) {
    const int fd = platform::OpenFile(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return std::nullopt;
    const FolderStream stream(::fdopendir(fd));
    if (!stream) {
        ::close(fd);
        return std::nullopt;
    }
    const std::optional<Identity> skipped = IdentityOf(leaveOut);
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(stream.get());
        if (item == nullptr) {
            if (errno != 0)
                return std::nullopt;
            break;
        }
        if (item->d_name[0] == '.')
            continue;
        struct stat info {};
        if (::fstatat(fd, item->d_name, &info, 0) != 0) {
            if (EntryGone(errno))
                continue;
            return std::nullopt;
        }
        if (skipped && info.st_dev == skipped->device && info.st_ino == skipped->inode)
            continue;
        const bool isFolder = S_ISDIR(info.st_mode);
        if (!isFolder && !S_ISREG(info.st_mode))
            continue; // a pipe, socket or device is never served: no link that cannot work
        entries.push_back({item->d_name, isFolder, isFolder ? 0 : info.st_size, info.st_mtime});
    }
    return entries;
}

void Sort(std::vector<Entry>& entries) {
    struct Keyed {
        QString key;
        Entry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (Entry& entry : entries)
        keyed.push_back(
            {QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size()))
                 .toCaseFolded(),
             &entry});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.entry->folder != b.entry->folder)
            return a.entry->folder;
        if (const int order = a.key.compare(b.key); order != 0)
            return order < 0;
        return a.entry->name < b.entry->name;
    });
    std::vector<Entry> sorted;
    sorted.reserve(entries.size());
    for (const Keyed& item : keyed)
        sorted.push_back(std::move(*item.entry));
    entries = std::move(sorted);
}

std::string ShownName(std::string_view name) {
    return reply::EscapeHtml(ShownText(name));
}

std::string HumanSize(int64_t bytes) {
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    const uint64_t size = bytes < 0 ? 0 : static_cast<uint64_t>(bytes);
    if (size < 1000)
        return std::to_string(size) + " B";
    uint64_t unit = 1;
    for (const char* name : kUnits) {
        unit *= 1000;
        // Rounded before the unit is chosen, so that 999,999 bytes read "1.0 MB", not "1000 kB".
        const uint64_t tenths = (size + unit / 20) / (unit / 10);
        if (tenths < 1000)
            return std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10) + ' ' + name;
        const uint64_t whole = (size + unit / 2) / unit;
        if (whole < 1000)
            return std::to_string(whole) + ' ' + name;
    }
    return std::to_string(size / unit) + " EB"; // not reached: int64_t ends below 10 EB
}

std::string LocalTime(std::time_t when) {
    std::tm local{};
    char text[32];
    if (::localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return {};
    return text;
}

void AppendRow(std::string& rows, const Entry& entry) {
    std::string href = percent::EncodePath(entry.name);
    if (entry.folder)
        href += '/';
    const std::string name = ShownName(entry.name);
    const std::string size = entry.folder ? std::string() : HumanSize(entry.size);
    const std::string time = LocalTime(entry.modified);
    webpage::AppendListingRow(rows, {href, name, size, time, entry.folder,
                                     entry.folder ? webpage::FileKind::Other : KindOf(entry.name)});
}

std::string Render(std::string_view requestPath, std::vector<Entry> entries,
                   std::optional<std::string_view> uploadTo) {
    Sort(entries);
    size_t room = 1024 + (uploadTo ? uploadarea::MarkupSize() + 3 * uploadTo->size() : 0);
    size_t folders = 0;
    for (const Entry& entry : entries) {
        room += webpage::kListingRowMarkup + 4 * entry.name.size() + 32;
        folders += entry.folder ? 1 : 0;
    }
    std::string body;
    body.reserve(room);
    if (uploadTo)
        uploadarea::Append(body, *uploadTo);
    webpage::AppendListingStart(body, !(requestPath.empty() || requestPath == "/"));
    for (const Entry& entry : entries)
        AppendRow(body, entry);
    webpage::AppendListingEnd(body, folders, entries.size() - folders);
    return webpage::Page(ShownText(requestPath), body);
}

std::optional<std::string> Page(const std::string& folder, std::string_view requestPath,
                                const std::string& leaveOut,
                                std::optional<std::string_view> uploadTo) {
    std::optional<std::vector<Entry>> entries = ReadFolder(folder, leaveOut);
    if (!entries)
        return std::nullopt;
    return Render(requestPath, std::move(*entries), uploadTo);
}

} // namespace folderpage
