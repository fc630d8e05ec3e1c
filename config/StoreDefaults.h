#pragma once

#include <QString>

// Which defaults fill the values a store lacks. A store that holds any KORU value was written by
// an earlier version: what it lacks keeps that version's meaning, so that an update never shares
// more than the user set up. Only a store that holds nothing gets today's defaults.
enum class Defaults { FirstRun, OlderStore };

// First run only for a store that holds no KORU value and reads well: one that cannot be read
// counts as an earlier version's, so that a damaged store never widens what is shared.
Defaults DefaultsFor(bool settingsStored, const QString& storeProblem);
// The choice for the store as it is now (SettingsStored() and StoreProblem()).
Defaults StoreDefaults();

// The base file (Edit2): "index.html", what sites are written with today; an earlier version's
// store keeps "Index.Htm".
QString DefaultBaseFileName(Defaults defaults);
// Folder pages list a folder's files to every visitor: on for a first run, off for an earlier
// version's store, which never showed them.
bool DefaultFolderPages(Defaults defaults);
// A tray notice for each batch of stored uploads: on for a first run; an earlier version's store
// never gave them, and an owner who runs it hidden would not expect them.
bool DefaultUploadNotices(Defaults defaults);
// Today's table for a first run; the built-in table for an earlier version's store.
const QString& DefaultMimeTextFor(Defaults defaults);

// The stored "FolderPages" text: on exactly when it is "1". A hand-edited value that is neither
// "1" nor "0" reads as off, the side that shows less.
bool ReadFolderPages(const QString& text);
QString FolderPagesText(bool on);
