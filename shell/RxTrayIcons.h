#pragma once

#include "platform/NoCopy.h"

#include <QByteArray>
#include <QIcon>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// A stored icon list that cannot be read back (cut short, or an entry that is no icon).
class EIconListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The animation frames of the tray icon: an ordered list of owned icons in which an entry may be
// absent. Every change goes through the list, so each one fires OnChange (once per operation, and
// not at all between BeginUpdate and the matching EndUpdate). Bad positions throw
// std::out_of_range and change nothing. UI thread only.
class TIconList : platform::NoCopy {
public:
    TIconList() = default;
    // Clears OnChange first: destroying the list notifies no one.
    ~TIconList();

    int Count() const { return static_cast<int>(items_.size()); }
    // The icon at `index`, or nullptr for an absent entry.
    const QIcon* Items(int index) const;
    // Stores a copy at `index`; at Count() the entry is appended.
    void SetItems(int index, const QIcon& icon);

    // Appends a copy (an empty icon for nullptr) and returns its position.
    int Add(const QIcon* icon);
    int Add(const QIcon& icon) { return Add(&icon); }
    // Appends the icon of a Qt resource (":/..."); throws EIconListError when there is none.
    int AddResource(const QString& name);
    void Insert(int index, const QIcon& icon);
    void InsertResource(int index, const QString& name);
    void Delete(int index);
    void Clear();
    void Exchange(int i, int j);
    void Move(int from, int to);
    // Position of the very icon object that Items() returned, else -1.
    int IndexOf(const QIcon* icon) const;

    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();

    // Each replaces the whole content with copies and fires one notification.
    void Assign(const TIconList& other);
    void Assign(const QIcon& icon);
    void Assign(std::nullptr_t) { Clear(); }

    // The stored form: entry count, then per entry its size and its bytes in the icon file format
    // (size 0 for an absent or empty icon); all numbers 32-bit little-endian. Empty when the list
    // is.
    QByteArray WriteData() const;
    // Replaces the content with the stored form. Throws EIconListError, leaving the list as it was,
    // when the data are cut short or an entry cannot be read as an icon.
    void ReadData(const QByteArray& data);

    std::function<void(TIconList* sender)> OnChange;

private:
    using Entry = std::unique_ptr<QIcon>;
    void checkIndex(int index, int limit) const;
    void replace(std::vector<Entry> items);
    void changed();

    std::vector<Entry> items_;
    int updateCount_ = 0;
};

// One icon in the icon file format with every size it holds (PNG-compressed entries), and back.
QByteArray IconToIco(const QIcon& icon);
// An icon with every image of `data`; a null icon when there is none.
QIcon IconFromIco(const QByteArray& data);
