#pragma once

#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string_view>

// The root and key prefix used by ReadRegString/WriteRegString. Written by the main window once
// at creation, before the first store access; read on the UI thread only.
extern platform::StoreRoot RegRoot;
extern QString RegBase;

// The named value of key RegBase + key in the file the settings are read from (StoreReadRoot()),
// or `def` when the key or the value is missing. Throws platform::StoreError when the value
// exists but is not text.
QString ReadRegString(const QString& key, const QString& name, const QString& def);

// Stores `value` under RegBase + key, creating the key, where WriteStoreValues puts it; returns
// the file written. Throws platform::StoreError naming the store file and the reason when the
// value did not reach the disk.
QString WriteRegString(const QString& key, const QString& name, const QString& value);

// Trims blanks and control characters; a non-empty result gets a "\" unless it already ends in
// "/", ":" or "\".
QString AddBackslash(const QString& text);

// The trimmed text as a signed 32-bit integer (optional sign, "$" for hexadecimal), else `def`.
int32_t TrimToIntDef(std::string_view text, int32_t def);
int32_t TrimToIntDef(const QString& text, int32_t def);

// Appends `text` (and CR LF when `lineEnd`) to the file, creating it when missing. A line is
// written whole or not at all: a write that comes up short (a full disk) is cut back, so that the
// next line does not start inside it. False when nothing was written: a log line that cannot be
// written is dropped, and the caller decides whether to say so; errno then tells why.
bool AppendToFile(const QString& fileName, const QByteArray& text, bool lineEnd);

inline uint32_t MinOf(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}
