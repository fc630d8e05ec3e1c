#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The stored text of the built-in table: 63 pairs, "@" after each of the last 30.
const QString& DefaultMimeText();

// An entry the stored format cannot carry (empty, or holding a double quote).
class EMimeError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A copy of the table as it stood after one change: immutable, so that any thread may read it.
class MimeTypes {
public:
    MimeTypes(QStringList extensions, QStringList contentTypes);
    // The content type of `extension` (Latin-1, any letter case) as Latin-1 bytes; empty when the
    // table has none. The same match as MimeTable::LookupMIME.
    std::string Lookup(std::string_view extension) const;

private:
    const QStringList extensions_;
    std::vector<std::string> latin1Types_; // the content types, in the order of the extensions
};

// Extension (without dot, any letter case) to content type, with the model of its editor: the
// list lines, the selected line, the type field and the Drop/Change enablement. UI thread only,
// but for Published(): each change publishes a copy of the pairs for the workers, who thus never
// wait for the UI thread to look a type up.
class MimeTable {
public:
    static inline const QString kEmptyHint = QStringLiteral("Click Add to add some items...");

    const QStringList& Extensions() const { return extensions_; }
    const QStringList& ContentTypes() const { return contentTypes_; }
    const QStringList& Lines() const { return lines_; }
    int Selected() const { return selected_; }
    const QString& Edit5() const { return edit5_; }
    bool DropEnabled() const { return dropEnabled_; }
    bool ChangeEnabled() const { return changeEnabled_; }

    MimeTable();

    QString LookupMIME(const QString& extension) const;
    // The pairs as the last change left them; safe on any thread. A change applies to the lookups
    // made after it.
    std::shared_ptr<const MimeTypes> Published() const { return published_.load(); }
    // Adds the pair or replaces the type of an existing extension. Throws EMimeError, leaving the
    // table unchanged, for an empty text or one with a double quote.
    void SetMIME(const QString& extension, const QString& contentType);
    void DropMIME(const QString& extension);
    QString GetMIME() const;
    void LoadMIME(const QString& text);
    // Adds each pair of the stored `text` whose extension the table lacks (matched without regard
    // to case, as lookups are) and changes none it has, so that a type the user set stays. The
    // workers see the additions at once, in one publication; the first added line is selected.
    // The number of pairs added.
    int AddMissing(const QString& text);
    // AddMissing(TodaysMimeText()): brings an earlier version's table up to today's types.
    int AddTodaysTypes();
    // Takes the next quoted token off the front of `text`; empty at the end or on a token whose
    // closing quote is missing (then `text` is emptied too).
    static QString NextQuoted(QString& text);

    // Editor handlers. Select() stands for the user clicking a line of the list.
    void Select(int line);
    void LBClick();
    void Edit5Change(const QString& text);
    // Takes an extension typed with its leading dot (".md") without it: a request's extension is
    // the text after its last dot, so a stored dot would never match.
    void AddBtnClick(const QString& enteredExtension);
    void DropBtnClick();
    void ChangeBtnClick();

    // Called after every change of the model, so that a view can show it.
    std::function<void()> OnChanged;

private:
    static void forEachPair(const QString& text,
                            const std::function<void(const QString&, const QString&)>& each);
    int find(const QString& extension) const;
    void append(const QString& extension, const QString& contentType);
    void changed() const;
    void publish();

    QStringList extensions_;
    QStringList contentTypes_;
    QStringList lines_;
    int selected_ = -1;
    QString edit5_;
    bool dropEnabled_ = false;
    bool changeEnabled_ = false;
    bool loading_ = false;
    // Written on the UI thread, read by every worker: swapped whole, never changed in place. A
    // copy of the table starts with the same pairs.
    struct SharedTypes : std::atomic<std::shared_ptr<const MimeTypes>> {
        SharedTypes() = default;
        SharedTypes(const SharedTypes& other) : atomic(other.load()) {}
        SharedTypes& operator=(const SharedTypes& other) {
            store(other.load());
            return *this;
        }
    };
    SharedTypes published_;
};
