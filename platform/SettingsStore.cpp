#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

namespace platform {
namespace {

QString firstListEntry(const QByteArray& list) {
    for (const QByteArray& entry : list.split(':'))
        if (!entry.isEmpty())
            return QString::fromLocal8Bit(entry);
    return {};
}

QString rootFolder(StoreRoot root) {
    if (root == StoreRoot::MachineWide) {
        const QString dir = firstListEntry(qgetenv("XDG_CONFIG_DIRS"));
        return dir.isEmpty() ? QStringLiteral("/etc/xdg") : dir;
    }
    // A relative value does not count: the desktop's folder conventions ignore it, and it would
    // put the store wherever the program happened to start.
    const QString home = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    return QDir::isAbsolutePath(home) ? home : QDir::homePath() + QStringLiteral("/.config");
}

QStringList keySegments(const QString& keyPath) {
    QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts;
}

// Empty when a new file can be made in `folder`, else why not.
QString newFileRefusal(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral("/.probe-XXXXXX"));
    return probe.open() ? QString() : probe.errorString();
}

// Why a write to `file` cannot succeed, in words the user can act on; empty when it may.
QString writeRefusal(const QString& file) {
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the folder %1").arg(folder);
    if (info.exists()) {
        QFile probe(file);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append))
            return probe.errorString();
    }
    // The store is replaced by a new file written beside it, never rewritten in place: a folder
    // that takes no new files stops the save even when the file itself is writable.
    if (const QString refusal = newFileRefusal(folder); !refusal.isEmpty())
        return QStringLiteral("the folder %1 is not writable (%2)").arg(folder, refusal);
    return {};
}

// Why a write to `file` failed, in words the user can act on.
QString writeFailureReason(const QString& file) {
    const QString refusal = writeRefusal(file);
    return refusal.isEmpty() ? QStringLiteral("the file could not be written completely") : refusal;
}

// Whether the settings format reads `file` without an error. Qt parses a file once and shares
// the result with every later reader of the same name, reporting a damaged file to the first one
// only: a second look at a damaged store found it readable, and so took it for a first run. A
// copy of its own under a new name is parsed afresh each time.
bool parsesWell(const QString& file) {
    QFile original(file);
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/koru-store-XXXXXX.conf"));
    const bool copied = original.open(QIODevice::ReadOnly) && copy.open() &&
                        copy.write(original.readAll()) == original.size() && copy.flush();
    QSettings settings(copied ? copy.fileName() : file, QSettings::NativeFormat);
    settings.allKeys();
    return settings.status() == QSettings::NoError;
}

} // namespace

QString StoreFileFor(StoreRoot root, const QString& keyPath) {
    const QStringList parts = keySegments(keyPath);
    if (parts.size() < 3 || parts[0].compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0)
        return {};
    return rootFolder(root) + QLatin1Char('/') + parts[1] + QLatin1Char('/') + parts[2] +
           QStringLiteral(".conf");
}

QString UnreadableStore(StoreRoot root, const QString& keyPath) {
    const QString file = StoreFileFor(root, keyPath);
    const QFileInfo info(file);
    if (file.isEmpty() || (!info.exists() && !info.isSymLink()))
        return {};
    QString reason;
    if (info.isDir())
        reason = QStringLiteral("a folder stands in its place");
    else if (!info.isFile() || !QFile(file).open(QIODevice::ReadOnly))
        reason = QStringLiteral("it cannot be opened");
    else if (!parsesWell(file))
        reason = QStringLiteral("its contents are damaged");
    return reason.isEmpty()
               ? QString()
               : QStringLiteral("The settings store %1 cannot be read: %2.").arg(file, reason);
}

SettingsStore::SettingsStore(StoreRoot root) : root_(root) {}
SettingsStore::~SettingsStore() = default;

bool SettingsStore::OpenKey(const QString& keyPath, bool create) {
    CloseKey();
    const QString file = StoreFileFor(root_, keyPath);
    if (file.isEmpty())
        return false;
    auto settings = std::make_unique<QSettings>(file, QSettings::NativeFormat);
    const QStringList group = keySegments(keyPath).mid(3);
    if (!group.isEmpty())
        settings->beginGroup(group.join(QLatin1Char('/')));
    if (!create && settings->childKeys().isEmpty() && settings->childGroups().isEmpty())
        return false;
    settings_ = std::move(settings);
    return true;
}

void SettingsStore::CloseKey() {
    settings_.reset();
}

bool SettingsStore::ValueExists(const QString& name) const {
    return settings_ && settings_->contains(name);
}

QString SettingsStore::ReadString(const QString& name) const {
    if (!settings_)
        return {};
    const QVariant value = settings_->value(name);
    if (value.typeId() != QMetaType::QString)
        throw StoreError(QStringLiteral("The value \"%1\" in %2 is not text.")
                             .arg(name, FileName())
                             .toStdString());
    return value.toString();
}

void SettingsStore::WriteString(const QString& name, const QString& value) {
    WriteStrings({{name, value}});
}

// A write that cannot succeed is refused before any value is handed to the settings format: the
// format keeps the values of a failed write in its shared parse of the file, so that a later
// reader in this process would see them as stored and try to write them again behind the user's
// back.
void SettingsStore::WriteStrings(const StoreValues& values) {
    if (!settings_)
        return;
    const auto failure = [this](const QString& reason) {
        return StoreError(QStringLiteral("Cannot save the settings to %1: %2.")
                              .arg(FileName(), reason)
                              .toStdString());
    };
    if (const QString refusal = writeRefusal(FileName()); !refusal.isEmpty())
        throw failure(refusal);
    for (const auto& [name, value] : values)
        settings_->setValue(name, value);
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        throw failure(writeFailureReason(FileName()));
}

QString SettingsStore::FileName() const {
    return settings_ ? settings_->fileName() : QString();
}

} // namespace platform
