#include "config/HomeTool.h"

#include "config/StorePlace.h"

#include "platform/FileCalls.h"
#include "platform/FilePath.h"
#include "platform/Text.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

platform::StoreRoot RegRoot = platform::StoreRoot::PerUser;
QString RegBase = QStringLiteral("Software\\Quillbrook\\Projects\\");

QString ReadRegString(const QString& key, const QString& name, const QString& def) {
    platform::SettingsStore store(StoreReadRoot());
    if (!store.OpenKey(RegBase + key, false))
        return def;
    return store.ValueExists(name) ? store.ReadString(name) : def;
}

QString WriteRegString(const QString& key, const QString& name, const QString& value) {
    return WriteStoreValues(key, {{name, value}});
}

QString AddBackslash(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= ' ')
        ++first;
    while (last > first && text[last - 1].unicode() <= ' ')
        --last;
    QString result = text.mid(first, last - first);
    if (!result.isEmpty() && !QStringLiteral("/:\\").contains(result.back()))
        result += QLatin1Char('\\');
    return result;
}

// Hexadecimal takes any 32-bit pattern ("$FFFFFFFF" is -1); decimal must fit the signed range.
int32_t TrimToIntDef(std::string_view text, int32_t def) {
    text = platform::TrimControls(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const bool hex = !text.empty() && text.front() == '$';
    if (hex)
        text.remove_prefix(1);
    if (text.empty())
        return def;
    const int base = hex ? 16 : 10;
    const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t value = 0;
    for (const char c : text) {
        const int digit = platform::HexDigitValue(c);
        if (digit < 0 || digit >= base)
            return def;
        value = value * base + static_cast<uint64_t>(digit);
        if (value > limit)
            return def;
    }
    const auto bits = static_cast<uint32_t>(value);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
}

int32_t TrimToIntDef(const QString& text, int32_t def) {
    const QByteArray bytes = text.toLatin1();
    return TrimToIntDef(std::string_view(bytes.constData(), bytes.size()), def);
}

bool AppendToFile(const QString& fileName, const QByteArray& text, bool lineEnd) {
    const QByteArray path = QFile::encodeName(platform::ToFsPath(fileName));
    if (path.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    // Never blocks the caller (the UI thread): no lock is taken, since the log is shared with
    // readers and writers alike and O_APPEND with one write per line keeps lines whole, and a
    // FIFO without a reader is refused instead of waited for.
    const platform::FileHandle file(
        platform::OpenFile(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK, 0644));
    if (!file.valid())
        return false;
    QByteArray line = text;
    if (lineEnd)
        line += "\r\n";
    struct stat before {};
    const bool sized = ::fstat(file.get(), &before) == 0 && S_ISREG(before.st_mode);
    errno = 0;
    if (platform::WriteAll(file.get(), line.constData(), static_cast<size_t>(line.size())))
        return true;
    // A write that took nothing sets no errno.
    const int cause = errno != 0 ? errno : EIO;
    // The part that was written would glue the next line to a torn one.
    if (sized) {
        const int cut = ::ftruncate(file.get(), before.st_size);
        static_cast<void>(cut); // nothing more can be done when even that fails
    }
    errno = cause;
    return false;
}
