#pragma once

#include "config/AccessChoices.h"
#include "config/StoreDefaults.h"

#include <QByteArray>
#include <QString>

#include <mutex>

class MimeTable;

// A text edited on the UI thread while worker threads read it: every read sees a whole old or a
// whole new value (QString's own sharing is not safe against a concurrent assignment).
class SharedText {
public:
    SharedText() = default;
    SharedText(const QString& text) : text_(text) {}
    SharedText(const SharedText& other) : text_(other.get()) {}
    SharedText& operator=(const SharedText& other) {
        set(other.get());
        return *this;
    }
    SharedText& operator=(const QString& text) {
        set(text);
        return *this;
    }
    QString get() const {
        const std::lock_guard lock(mutex_);
        return text_;
    }
    void set(const QString& text) {
        const std::lock_guard lock(mutex_);
        text_ = text;
    }
    bool operator==(const QString& text) const { return get() == text; }

private:
    mutable std::mutex mutex_;
    QString text_;
};

// The live configuration: fields keep exactly what the user typed; every use reads the field it
// needs at that moment. Owned and edited by the UI thread; workers read only the page header and
// footer.
struct ServerSettings {
    QString BaseFolder;
    QString BaseFileName;
    QString TempPath;
    QString ListenPort;
    QString PluginsPath;
    SharedText PageHeader;
    SharedText PageFooter;
    QString LogFile;
    QString IdleSeconds;
    QString UploadPath;
    QString MasterCommand;
    bool ShowPeers = false;
    bool AutoClose = true;
    bool LogEnabled = true;
    bool HideOnStartup = true;
    // A folder without a default document is answered with a page listing its files. Stored as
    // its own value "FolderPages", "1" or "0"; off until the store says otherwise.
    bool FolderPages = false;
    // Each batch of stored uploads is told in a tray message. Stored as "UploadNotices", "1" or
    // "0" (read as FolderPages is).
    bool UploadNotices = false;
    // Who may connect, and where visitors may store files ("Reach" and "Uploads"): what an earlier
    // version did until the store says otherwise.
    ReachChoice Reach = ReachChoice::Anywhere;
    UploadsChoice Uploads = UploadsChoice::UnderBase;
};

inline const QString kSettingsKey = QStringLiteral("KORU\\Settings");

// The four flags from the stored "CBoxes" text, one character each in the order ShowPeers,
// AutoClose, LogEnabled, HideOnStartup: on exactly when the character is "1". A text shorter
// than four characters reads as if "1111" followed it, so that missing positions read as on.
void ReadFlagBoxes(QString boxes, ServerSettings& settings);
// The four flags as "CBoxes" text: "1" for on, "0" for off.
QString FlagBoxes(const ServerSettings& settings);
QString DefaultPageFooter();

// The defaults for this desktop, used where the store holds no value; folders end in "/".
// The user's public-share folder (~/Public/): what the desktop already offers to share.
QString DefaultBaseFolder();
// The installed sample modules' folder (lib/koru/plugins/ beside the program's bin/), else
// plugins/ beside the program, where the build puts them.
QString DefaultPluginsFolder();
// $XDG_STATE_HOME/koru/KORU.Log (~/.local/state/koru/): outside the base folder, so that the
// server does not publish its own log.
QString DefaultLogFile();

// Whether settings were ever saved to the store the settings are read from (StoreReadRoot()):
// false on a first run, when neither the per-user nor the machine-wide file holds them.
bool SettingsStored();
// Why the store exists but cannot be read, naming its file; empty when it reads well or is
// missing. Such a store counts as an earlier version's, never as a first run: its defaults must
// never share more than the store did.
QString StoreProblem();

// Appends one line to the request log. The default log's folder is made (private to the user)
// when it is missing; any other missing folder drops the line, as AppendToFile does. False when
// the line was dropped, with errno telling why.
bool AppendToLog(const QString& logFile, const QByteArray& line);

// Whether the plug-ins folder (a blank path is the current folder) is the base folder or lies
// inside it, links resolved: visitors can then fetch the module files, and uploads into it are
// refused.
bool PluginsInsideBase(const ServerSettings& settings);
// Whether the upload folder is the base folder or lies inside it, links resolved (a folder not
// made yet by where it would be made). Uploads into the upload folder are taken only then.
bool UploadsInsideBase(const ServerSettings& settings);

// Every field and the MIME table as a store restores them that lacks every value: by default as
// an empty store (a first run) does. Start-up resets with the store's own choice before it
// restores, so that the values after one that cannot be read take the store's defaults.
void ResetSettings(ServerSettings& settings, MimeTable& mime,
                   Defaults defaults = Defaults::FirstRun);

// Fills the record and the MIME table from the store, and where it holds no value, with the
// defaults StoreDefaults() chooses for it. Throws platform::StoreError at a value that is not
// text; fields not read yet keep what they held.
void RestoreSettings(ServerSettings& settings, MimeTable& mime);

// Writes every field, FolderPages, Reach and Uploads included, and the MIME table, all in one go,
// to the file the settings were read from, or to the per-user file when the machine-wide one takes
// no write (see WriteStoreValues): what the window shows is kept. Returns the file written. Throws
// platform::StoreError (store files and reasons) when no file took them; nothing is written then.
QString SaveSettings(const ServerSettings& settings, const MimeTable& mime);
