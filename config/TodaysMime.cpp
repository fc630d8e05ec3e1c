#include "config/TodaysMime.h"

namespace {

struct Pair {
    const char* extension;
    const char* contentType;
    bool utf8 = false; // a text type, sent with "; charset=utf-8"
};

constexpr bool kUtf8 = true;

// Grouped by kind, in the order the MIME page lists them.
constexpr Pair kTodaysTypes[] = {
    // Pages, styles, scripts and data.
    {"html", "text/html", kUtf8},
    {"htm", "text/html", kUtf8},
    {"css", "text/css", kUtf8},
    {"js", "text/javascript", kUtf8},
    {"mjs", "text/javascript", kUtf8},
    {"json", "application/json"},
    {"txt", "text/plain", kUtf8},
    {"md", "text/markdown", kUtf8},
    {"csv", "text/csv", kUtf8},
    {"xml", "application/xml"},
    {"wasm", "application/wasm"},
    // Pictures.
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"avif", "image/avif"},
    {"heic", "image/heic"},
    {"ico", "image/vnd.microsoft.icon"},
    {"bmp", "image/bmp"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    // Sound.
    {"mp3", "audio/mpeg"},
    {"m4a", "audio/mp4"},
    {"aac", "audio/aac"},
    {"ogg", "audio/ogg"},
    {"oga", "audio/ogg"},
    {"opus", "audio/ogg"}, // Opus in an Ogg file: the file format decides
    {"flac", "audio/flac"},
    {"wav", "audio/wav"},
    // Video.
    {"mp4", "video/mp4"},
    {"m4v", "video/mp4"},
    {"mov", "video/quicktime"},
    {"webm", "video/webm"},
    {"mkv", "video/x-matroska"},
    {"ogv", "video/ogg"},
    // Documents and books.
    {"pdf", "application/pdf"},
    {"epub", "application/epub+zip"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
    // Fonts.
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},
    {"otf", "font/otf"},
    // Archives, disc images and packages.
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"tar", "application/x-tar"},
    {"7z", "application/x-7z-compressed"},
    {"iso", "application/x-iso9660-image"},
    {"apk", "application/vnd.android.package-archive"},
};

} // namespace

const QString& TodaysMimeText() {
    static const QString text = [] {
        QString stored;
        for (const auto& [extension, contentType, utf8] : kTodaysTypes)
            stored += QLatin1Char('"') + QLatin1String(extension) + QStringLiteral("\"=\"") +
                      QLatin1String(contentType) +
                      (utf8 ? QStringLiteral("; charset=utf-8") : QString()) +
                      QStringLiteral("\"@");
        return stored;
    }();
    return text;
}
