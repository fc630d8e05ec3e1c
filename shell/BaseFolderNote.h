#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// The Server page's note on a base folder that is missing (with a button that creates it) or not
// set at all. The folder is looked at when the server starts and when the page is shown, never by
// polling. UI thread only.
class TBaseFolderNote : public QWidget {
public:
    explicit TBaseFolderNote(QWidget* parent = nullptr);

    // Looks at the base folder as the listener serves it (`basePath`) and says what is wrong with
    // it, if anything.
    void Check(const QString& basePath);
    // Looks again at the folder of the last Check, unless the note was cleared since.
    void Recheck();
    // The server stopped: nothing is said until the next Check.
    void Clear();

    // "Create it": makes the folder with the folders above it; the note goes, or says why not.
    void CreateItClick();

    QString Text() const;

private:
    QLabel* notice_ = nullptr;
    QPushButton* create_ = nullptr;
    QLabel* failure_ = nullptr;
    QString basePath_;
    bool checking_ = false;
};

// What the note says of `basePath`: empty when it names a folder that exists.
QString MissingFolderNotice(const QString& basePath);
