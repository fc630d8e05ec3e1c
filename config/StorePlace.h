#pragma once

#include "platform/SettingsStore.h"

#include <QString>

// Where the settings are read and written. A normal user cannot write the machine-wide file, so
// a save falls back to the per-user file; from then on that file is the whole store: values it
// lacks take the defaults, never the machine-wide file's values, so that what the user saved is
// exactly what comes back. UI thread only, like RegRoot.

// The root the settings are read from: the per-user one when RegRoot is the machine-wide root and
// the per-user file holds KORU settings, or exists but cannot be read (it is then a damaged store
// of the user's own, never a reason to fall back to the machine-wide values); else RegRoot.
platform::StoreRoot StoreReadRoot();

// The file the settings are read from now.
QString StoreFile();

// Writes `values` under RegBase + key, all in one go, to the file the settings are read from;
// when that is the machine-wide file and it takes no write, to the per-user file instead (its
// folders are made). Returns the file written. Throws platform::StoreError naming every file
// tried and why it failed when none took the values.
QString WriteStoreValues(const QString& key, const platform::StoreValues& values);
