#include "config/ServerSettings.h"

#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "config/StorePlace.h"
#include "platform/FilePath.h"
#include "platform/FolderPlace.h"
#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <sys/stat.h>

namespace {

QString textOf(const QString& field) {
    return field;
}
QString textOf(const SharedText& field) {
    return field.get();
}

// A stored text value: its name, its default, and the one field of the settings it belongs to,
// so that reading and writing cannot pair a name with the wrong field.
struct TextField {
    const char* name;
    QString (*fallback)(Defaults);
    QString (*get)(const ServerSettings&);
    void (*set)(ServerSettings&, const QString&);
};

template <auto Member> constexpr TextField field(const char* name, QString (*fallback)(Defaults)) {
    return {name, fallback, [](const ServerSettings& s) { return textOf(s.*Member); },
            [](ServerSettings& s, const QString& value) { s.*Member = value; }};
}

// A default that is the same for a first run and an earlier version's store.
template <QString (*Fallback)()> QString always(Defaults) {
    return Fallback();
}

// Value names and defaults in the order they are read and written.
constexpr std::array<TextField, 11> kTextFields{{
    field<&ServerSettings::BaseFolder>("Edit1", always<DefaultBaseFolder>),
    field<&ServerSettings::BaseFileName>("Edit2", DefaultBaseFileName),
    field<&ServerSettings::TempPath>(
        "Edit3", [](Defaults) { return QStringLiteral("C:\\Windows\\Temp\\"); }),
    // Ports below 1024 are refused to a normal user here.
    field<&ServerSettings::ListenPort>("Edit4", [](Defaults) { return QStringLiteral("8080"); }),
    field<&ServerSettings::PluginsPath>("Edit6", always<DefaultPluginsFolder>),
    field<&ServerSettings::PageHeader>(
        "Edit10", [](Defaults) { return QStringLiteral("<html><body bgcolor=#c0c0c0>"); }),
    field<&ServerSettings::PageFooter>("Edit11", always<DefaultPageFooter>),
    field<&ServerSettings::LogFile>("Edit12", always<DefaultLogFile>),
    field<&ServerSettings::IdleSeconds>("Edit13", [](Defaults) { return QStringLiteral("40"); }),
    field<&ServerSettings::UploadPath>(
        "Edit14", [](Defaults) { return DefaultBaseFolder() + QStringLiteral("Uploads/"); }),
    field<&ServerSettings::MasterCommand>(
        "Edit15", [](Defaults) { return QStringLiteral("Be_Now_The_Chef"); }),
}};

const QString kFolderPages = QStringLiteral("FolderPages");
const QString kUploadNotices = QStringLiteral("UploadNotices");
const QString kMime = QStringLiteral("MIME");

// Every text field from `valueOf`, in the order of kTextFields: a restore that stops at a bad
// value has then filled exactly the fields before it.
template <typename ValueOf> void fillTextFields(ServerSettings& s, ValueOf valueOf) {
    for (const TextField& field : kTextFields)
        field.set(s, valueOf(field));
}

const QString kDefaultBoxes = QStringLiteral("0111");

QString withSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// A relative value does not count: the desktop's folder conventions ignore it.
QString stateHome() {
    const QString set = qEnvironmentVariable("XDG_STATE_HOME");
    return QDir::isAbsolutePath(set) ? QDir::cleanPath(set)
                                     : QDir::homePath() + QStringLiteral("/.local/state");
}

// Makes `folder` and its missing parents readable by the user alone, as the desktop's folder
// conventions ask of the state folders.
bool makePrivateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (end < 0)
            return true;
    }
}

} // namespace

QString DefaultBaseFolder() {
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::PublicShareLocation));
}

QString DefaultPluginsFolder() {
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString installed =
        QDir::cleanPath(programFolder + QLatin1Char('/') + QStringLiteral(KORU_INSTALLED_PLUGINS));
    if (QFileInfo(installed).isDir())
        return withSlash(installed);
    return programFolder + QStringLiteral("/plugins/");
}

QString DefaultLogFile() {
    return stateHome() + QStringLiteral("/koru/KORU.Log");
}

bool SettingsStored() {
    platform::SettingsStore store(StoreReadRoot());
    return store.OpenKey(RegBase + kSettingsKey, false);
}

bool PluginsInsideBase(const ServerSettings& s) {
    const auto canonical = [](const QString& folder) {
        const QString trimmed = AddBackslash(folder);
        return QFileInfo(trimmed.isEmpty() ? QStringLiteral(".") : platform::ToFsPath(trimmed))
            .canonicalFilePath();
    };
    const QString base = canonical(s.BaseFolder);
    const QString plugins = canonical(s.PluginsPath);
    if (base.isEmpty() || plugins.isEmpty() || AddBackslash(s.BaseFolder).isEmpty())
        return false;
    return plugins == base || base == QStringLiteral("/") ||
           plugins.startsWith(base + QLatin1Char('/'));
}

bool UploadsInsideBase(const ServerSettings& s) {
    const auto fsName = [](const QString& folder) {
        return QFile::encodeName(platform::ToFsPath(AddBackslash(folder))).toStdString();
    };
    // Without a base folder nothing is stored at all.
    if (AddBackslash(s.BaseFolder).isEmpty() || AddBackslash(s.UploadPath).isEmpty())
        return false;
    return platform::FolderWithin(fsName(s.UploadPath), fsName(s.BaseFolder));
}

QString StoreProblem() {
    return platform::UnreadableStore(StoreReadRoot(), RegBase + kSettingsKey);
}

bool AppendToLog(const QString& logFile, const QByteArray& line) {
    // The folder is looked at only when a line could not be written: the UI thread writes a line
    // per request, and a look per line cost a system call or two each time.
    if (AppendToFile(logFile, line, true))
        return true;
    const int cause = errno;
    const QFileInfo folder(QFileInfo(platform::ToFsPath(logFile)).absolutePath());
    if (folder.exists() || folder.filePath() != QFileInfo(DefaultLogFile()).absolutePath()) {
        errno = cause; // the write's reason, not the look at the folder's
        return false;
    }
    if (!makePrivateFolder(folder.filePath()))
        return false;
    return AppendToFile(logFile, line, true);
}

QString DefaultPageFooter() {
    return QStringLiteral("<center><hr>Home page of <a href=/>KORU, your personal web server"
                          "</a></body></center></html>");
}

void ReadFlagBoxes(QString boxes, ServerSettings& s) {
    if (boxes.size() < 4)
        boxes += QStringLiteral("1111");
    s.ShowPeers = boxes[0] == QLatin1Char('1');
    s.AutoClose = boxes[1] == QLatin1Char('1');
    s.LogEnabled = boxes[2] == QLatin1Char('1');
    s.HideOnStartup = boxes[3] == QLatin1Char('1');
}

QString FlagBoxes(const ServerSettings& s) {
    QString boxes = QStringLiteral("0000");
    const std::array<bool, 4> flags{s.ShowPeers, s.AutoClose, s.LogEnabled, s.HideOnStartup};
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i])
            boxes[static_cast<qsizetype>(i)] = QLatin1Char('1');
    return boxes;
}

void ResetSettings(ServerSettings& s, MimeTable& mime, Defaults defaults) {
    ReadFlagBoxes(kDefaultBoxes, s);
    s.FolderPages = DefaultFolderPages(defaults);
    s.UploadNotices = DefaultUploadNotices(defaults);
    s.Reach = DefaultReach(defaults);
    s.Uploads = DefaultUploads(defaults);
    fillTextFields(s, [defaults](const TextField& field) { return field.fallback(defaults); });
    mime.LoadMIME(DefaultMimeTextFor(defaults));
}

// The choice between a first run's and an earlier version's defaults is made once, before
// anything is read, so that every value of one restore follows the same choice.
void RestoreSettings(ServerSettings& s, MimeTable& mime) {
    const Defaults defaults = StoreDefaults();
    ReadFlagBoxes(ReadRegString(kSettingsKey, QStringLiteral("CBoxes"), kDefaultBoxes), s);
    s.FolderPages = ReadFolderPages(
        ReadRegString(kSettingsKey, kFolderPages, FolderPagesText(DefaultFolderPages(defaults))));
    s.UploadNotices = ReadFolderPages(ReadRegString(
        kSettingsKey, kUploadNotices, FolderPagesText(DefaultUploadNotices(defaults))));
    s.Reach =
        ReadReach(ReadRegString(kSettingsKey, kReachValue, ChoiceText(DefaultReach(defaults))));
    s.Uploads = ReadUploads(
        ReadRegString(kSettingsKey, kUploadsValue, ChoiceText(DefaultUploads(defaults))));
    fillTextFields(s, [defaults](const TextField& field) {
        return ReadRegString(kSettingsKey, QString::fromLatin1(field.name),
                             field.fallback(defaults));
    });
    mime.LoadMIME(ReadRegString(kSettingsKey, kMime, DefaultMimeTextFor(defaults)));
}

QString SaveSettings(const ServerSettings& s, const MimeTable& mime) {
    platform::StoreValues values{{QStringLiteral("CBoxes"), FlagBoxes(s)},
                                 {kFolderPages, FolderPagesText(s.FolderPages)},
                                 {kUploadNotices, FolderPagesText(s.UploadNotices)},
                                 {kReachValue, ChoiceText(s.Reach)},
                                 {kUploadsValue, ChoiceText(s.Uploads)}};
    for (const TextField& field : kTextFields)
        values.emplace_back(QString::fromLatin1(field.name), field.get(s));
    values.emplace_back(kMime, mime.GetMIME());
    return WriteStoreValues(kSettingsKey, values);
}
