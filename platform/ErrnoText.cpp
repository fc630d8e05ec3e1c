#include "platform/ErrnoText.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

namespace {

constexpr std::array<std::pair<int, const char*>, 17> kPlainTexts{{
    {ENOENT, "a folder on its path does not exist"},
    {EACCES, "no permission"},
    {EPERM, "not permitted"},
    {EROFS, "the file system is read-only"},
    {ENOSPC, "the disk is full"},
    {EDQUOT, "the disk quota is used up"},
    {EISDIR, "it is a folder"},
    {ENOTDIR, "a part of its path is not a folder"},
    {EEXIST, "a file of that name is in the way"},
    {ENAMETOOLONG, "the name is too long"},
    {EFBIG, "the file is too large"},
    {EIO, "the disk reported an input/output error"},
    // A pipe is opened without waiting: with nobody reading it, the open is refused.
    {ENXIO, "it is a pipe that nothing reads"},
    {EAGAIN, "it takes no more for now"},
    {ELOOP, "its path has too many symbolic links"},
    {EMFILE, "the program has too many files open"},
    {ENFILE, "the system has too many files open"},
}};

} // namespace

QString ErrnoText(int code) {
    for (const auto& [known, text] : kPlainTexts)
        if (known == code)
            return QString::fromLatin1(text);
    if (code == 0)
        return QStringLiteral("no reason was given");
    // The GNU form: the text may be a static one instead of the buffer.
    std::array<char, 256> buffer{};
    const char* text = ::strerror_r(code, buffer.data(), buffer.size());
    return QString::fromLocal8Bit(text).toLower();
}

} // namespace platform
