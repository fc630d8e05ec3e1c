#include "config/ServerSettings.h"

#include "config/HomeTool.h"
#include "config/MimeTable.h"
#include "platform/FilePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <sys/stat.h>

namespace {

struct TextField {
    const char* name;
    QString (*fallback)();
};

// Value names and defaults in the order they are read and written.
constexpr std::array<TextField, 11> kTextFields{{
    {"Edit1", DefaultBaseFolder},
    {"Edit2", [] { return QStringLiteral("Index.Htm"); }},
    {"Edit3", [] { return QStringLiteral("C:\\Windows\\Temp\\"); }},
    // Ports below 1024 are refused to a normal user here.
    {"Edit4", [] { return QStringLiteral("8080"); }},
    {"Edit6", DefaultPluginsFolder},
    {"Edit10", [] { return QStringLiteral("<html><body bgcolor=#c0c0c0>"); }},
    {"Edit11", DefaultPageFooter},
    {"Edit12", DefaultLogFile},
    {"Edit13", [] { return QStringLiteral("40"); }},
    {"Edit14", [] { return DefaultBaseFolder() + QStringLiteral("Uploads/"); }},
    {"Edit15", [] { return QStringLiteral("Be_Now_The_Chef"); }},
}};

QString read(const TextField& field) {
    return ReadRegString(kSettingsKey, QString::fromLatin1(field.name), field.fallback());
}

// Every text field from `valueOf`, in the order of kTextFields: a restore that stops at a bad
// value has then filled exactly the fields before it.
template <typename ValueOf> void fillTextFields(ServerSettings& s, ValueOf valueOf) {
    s.BaseFolder = valueOf(kTextFields[0]);
    s.BaseFileName = valueOf(kTextFields[1]);
    s.TempPath = valueOf(kTextFields[2]);
    s.ListenPort = valueOf(kTextFields[3]);
    s.PluginsPath = valueOf(kTextFields[4]);
    s.PageHeader = valueOf(kTextFields[5]);
    s.PageFooter = valueOf(kTextFields[6]);
    s.LogFile = valueOf(kTextFields[7]);
    s.IdleSeconds = valueOf(kTextFields[8]);
    s.UploadPath = valueOf(kTextFields[9]);
    s.MasterCommand = valueOf(kTextFields[10]);
}

const QString kDefaultBoxes = QStringLiteral("0111");

void write(const char* name, const QString& value) {
    WriteRegString(kSettingsKey, QString::fromLatin1(name), value);
}

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
    platform::SettingsStore store(RegRoot);
    return store.OpenKey(RegBase + kSettingsKey, false);
}

void AppendToLog(const QString& logFile, const QByteArray& line) {
    const QFileInfo folder(QFileInfo(platform::ToFsPath(logFile)).absolutePath());
    if (!folder.exists() && folder.filePath() == QFileInfo(DefaultLogFile()).absolutePath())
        makePrivateFolder(folder.filePath());
    AppendToFile(logFile, line, true);
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

void ResetSettings(ServerSettings& s, MimeTable& mime) {
    ReadFlagBoxes(kDefaultBoxes, s);
    fillTextFields(s, [](const TextField& field) { return field.fallback(); });
    mime.LoadMIME(DefaultMimeText());
}

void RestoreSettings(ServerSettings& s, MimeTable& mime) {
    ReadFlagBoxes(ReadRegString(kSettingsKey, QStringLiteral("CBoxes"), kDefaultBoxes), s);
    fillTextFields(s, [](const TextField& field) { return read(field); });
    mime.LoadMIME(ReadRegString(kSettingsKey, QStringLiteral("MIME"), DefaultMimeText()));
}

void SaveSettings(const ServerSettings& s, const MimeTable& mime) {
    write("CBoxes", FlagBoxes(s));

    const std::array<QString, 11> values{
        s.BaseFolder,       s.BaseFileName,     s.TempPath, s.ListenPort,
        s.PluginsPath,      s.PageHeader.get(), s.PageFooter.get(), s.LogFile,
        s.IdleSeconds,      s.UploadPath,       s.MasterCommand};
    for (size_t i = 0; i < values.size(); ++i)
        write(kTextFields[i].name, values[i]);

    write("MIME", mime.GetMIME());
}
