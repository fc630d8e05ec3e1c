#pragma once

// Files a test lays out before it runs the code under test.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace testfiles {

// Writes `content` to `path`, making the folders it needs; false when any of that failed.
inline bool write(const QString& path, const QByteArray& content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

} // namespace testfiles
