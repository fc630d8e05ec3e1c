#pragma once

#include <QString>

#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

class QSettings;

namespace platform {

// The two roots of the persistent store: per-user ($XDG_CONFIG_HOME) and machine-wide (the first
// entry of $XDG_CONFIG_DIRS).
enum class StoreRoot { PerUser, MachineWide };

// A store failure that the caller must show: a value that is not text, or a write that did not
// reach the disk.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Value names and their texts, in the order they are written.
using StoreValues = std::vector<std::pair<QString, QString>>;

// The file that holds the keys below "Software\<organisation>\<application>\" of a root; empty when
// the path does not have that form.
QString StoreFileFor(StoreRoot root, const QString& keyPath);

// Why the store file for `keyPath` in `root` exists but cannot be read (a folder in its place,
// damaged contents, no permission), in words that name the file; empty when it is missing or
// reads well.
QString UnreadableStore(StoreRoot root, const QString& keyPath);

// One handle on a root of the key/value store. Key paths are backslash-separated:
// "Software\<organisation>\<application>\" picks the file, the rest is the group inside it.
// Owned by one thread (the UI thread); nothing is cached between handles.
class SettingsStore {
public:
    explicit SettingsStore(StoreRoot root);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Opens a key. Without `create` it fails when the key holds nothing yet; with `create` it fails
    // only when the path cannot name a key. Opening closes any key opened before.
    bool OpenKey(const QString& keyPath, bool create);
    void CloseKey();

    bool ValueExists(const QString& name) const;
    // Throws StoreError when the value exists but is not text.
    QString ReadString(const QString& name) const;
    // Throws StoreError (naming the file and the reason) when the value did not reach the disk.
    void WriteString(const QString& name, const QString& value);
    // Writes every value with one replacement of the file: all of them reach the disk or none.
    // Throws StoreError (naming the file and the reason) when they did not.
    void WriteStrings(const StoreValues& values);

    QString FileName() const;

private:
    StoreRoot root_;
    std::unique_ptr<QSettings> settings_;
};

} // namespace platform
