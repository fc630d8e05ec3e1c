#include "config/ServerSettings.h"

#include "config/HomeTool.h"
#include "config/MimeTable.h"

#include <array>

namespace {

struct TextField {
    const char* name;
    const char* fallback;
};

// Value names and defaults in the order they are read and written.
constexpr std::array<TextField, 11> kTextFields{{
    {"Edit1", "C:\\Webbase\\"},
    {"Edit2", "Index.Htm"},
    {"Edit3", "C:\\Windows\\Temp\\"},
    {"Edit4", "80"},
    {"Edit6", "C:\\Webbase\\Plugins\\"},
    {"Edit10", "<html><body bgcolor=#c0c0c0>"},
    {"Edit11", nullptr},
    {"Edit12", "C:\\Webbase\\KORU.Log"},
    {"Edit13", "40"},
    {"Edit14", "C:\\Webbase\\Uploads\\"},
    {"Edit15", "Be_Now_The_Chef"},
}};

QString fallbackOf(const TextField& field) {
    return field.fallback ? QString::fromLatin1(field.fallback) : DefaultPageFooter();
}

QString read(const TextField& field) {
    return ReadRegString(kSettingsKey, QString::fromLatin1(field.name), fallbackOf(field));
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

} // namespace

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
    fillTextFields(s, [](const TextField& field) { return fallbackOf(field); });
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
