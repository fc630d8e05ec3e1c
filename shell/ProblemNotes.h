#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

class QLabel;

// Notes on the Server page about what keeps the server from working as set, each with what to do
// about it, standing for as long as the problem does: the port a start could not take (until a
// start succeeds) and the request log that cannot be written (until a line is written again).
// UI thread only.
class TProblemNotes : public QWidget {
public:
    explicit TProblemNotes(QWidget* parent = nullptr);

    // A start failed with the socket layer's error `code` while asking for `port`. A failure that
    // is not the port's takes an earlier port note away: it would no longer be the reason.
    void ShowStartFailure(int32_t code, uint16_t port);
    void ClearStartFailure() { setNote(*port_, {}); }
    void ShowLogProblem(const QString& problem) { setNote(*log_, problem); }
    void ClearLogProblem() { setNote(*log_, {}); }

    // The notes shown; empty when there is none.
    QString PortNote() const;
    QString LogNote() const;

private:
    void setNote(QLabel& note, const QString& text);

    QLabel* port_ = nullptr;
    QLabel* log_ = nullptr;
};
