#pragma once

#include <QString>

namespace platform {

// The program joins folder names with "\" as typed by the user; the file system wants "/".
inline QString ToFsPath(const QString& name) {
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

} // namespace platform
