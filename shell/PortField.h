#pragma once

#include "shell/PortCheck.h"

#include <QObject>

class QLabel;
class QLineEdit;

// Marks the port field while its text is not a plain port number: a red frame, and a line under
// the field that says which port the listener will take of the text, or why it can take none.
// UI thread only; the field outlives the mark.
class TPortFieldMark : public QObject {
public:
    // Follows the field's edits; a text set with its signals blocked needs Update().
    explicit TPortFieldMark(QLineEdit& field, ServiceLookup lookup = SystemService);

    void Update();
    bool Marked() const { return marked_; }
    // The line under the field; empty while the text is plain.
    QString Note() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeNote();
    void fitHeight();

    QLineEdit& field_;
    ServiceLookup lookup_;
    QLabel* note_ = nullptr; // owned by the field's parent
    bool marked_ = false;
};
