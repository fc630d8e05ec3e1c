#include "config/StoreDefaults.h"

#include "config/MimeTable.h"
#include "config/ServerSettings.h"
#include "config/TodaysMime.h"

Defaults DefaultsFor(bool settingsStored, const QString& storeProblem) {
    return !settingsStored && storeProblem.isEmpty() ? Defaults::FirstRun : Defaults::OlderStore;
}

Defaults StoreDefaults() {
    return DefaultsFor(SettingsStored(), StoreProblem());
}

QString DefaultBaseFileName(Defaults defaults) {
    return defaults == Defaults::FirstRun ? QStringLiteral("index.html")
                                          : QStringLiteral("Index.Htm");
}

bool DefaultFolderPages(Defaults defaults) {
    return defaults == Defaults::FirstRun;
}

bool DefaultUploadNotices(Defaults defaults) {
    return defaults == Defaults::FirstRun;
}

const QString& DefaultMimeTextFor(Defaults defaults) {
    return defaults == Defaults::FirstRun ? TodaysMimeText() : DefaultMimeText();
}

bool ReadFolderPages(const QString& text) {
    return text == QLatin1String("1");
}

QString FolderPagesText(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}
