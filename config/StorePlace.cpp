#include "config/StorePlace.h"

#include "config/HomeTool.h"
#include "config/ServerSettings.h"

namespace {

using platform::StoreRoot;

QString settingsKeyPath() {
    return RegBase + kSettingsKey;
}

bool holdsSettings(StoreRoot root) {
    platform::SettingsStore store(root);
    return store.OpenKey(settingsKeyPath(), false);
}

QString writeTo(StoreRoot root, const QString& key, const platform::StoreValues& values) {
    platform::SettingsStore store(root);
    if (!store.OpenKey(RegBase + key, true))
        throw platform::StoreError(
            QStringLiteral("Cannot save the settings: \"%1\" names no store.")
                .arg(RegBase + key)
                .toStdString());
    store.WriteStrings(values);
    return store.FileName();
}

} // namespace

StoreRoot StoreReadRoot() {
    if (RegRoot != StoreRoot::MachineWide)
        return RegRoot;
    if (holdsSettings(StoreRoot::PerUser) ||
        !platform::UnreadableStore(StoreRoot::PerUser, settingsKeyPath()).isEmpty())
        return StoreRoot::PerUser;
    return StoreRoot::MachineWide;
}

QString StoreFile() {
    return platform::StoreFileFor(StoreReadRoot(), settingsKeyPath());
}

QString WriteStoreValues(const QString& key, const platform::StoreValues& values) {
    const StoreRoot first = StoreReadRoot();
    try {
        return writeTo(first, key, values);
    } catch (const platform::StoreError& refused) {
        if (first != StoreRoot::MachineWide)
            throw;
        try {
            return writeTo(StoreRoot::PerUser, key, values);
        } catch (const platform::StoreError& again) {
            throw platform::StoreError(std::string(refused.what()) + ' ' + again.what());
        }
    }
}
