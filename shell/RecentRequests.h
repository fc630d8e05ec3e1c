#pragma once

#include <QHash>
#include <QPlainTextEdit>
#include <QStringList>

#include <cstdint>

class QTimer;

// The Server tab's latest requests, each shown once it has been answered: its log line, then the
// status and the size of the answer, so that a visitor's 404s stand out. UI thread only.
class TRecentRequests : public QPlainTextEdit {
public:
    // The most request lines kept: enough to watch a visit, little enough to cost nothing.
    static constexpr int kRecentRequests = 100;
    // Requests logged and not answered yet, at most: one per live worker, so this is only a
    // bound against answers that never come.
    static constexpr int kMostAwaiting = 4096;

    explicit TRecentRequests(QWidget* parent = nullptr);

    // One request-log line, as the log file has it without its line end.
    void AddRequest(uint64_t number, const QByteArray& line);
    // The answer to that request: its status (0: none could be sent) and its size.
    void AnswerRequest(uint64_t number, int status, int64_t bytes);

    // "<log line>\t404 Not Found\t312 B", as the view shows an answered request.
    static QString AnsweredLine(const QString& line, int status, int64_t bytes);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void queue(const QString& line);
    void flush();
    void showSome();

    QHash<uint64_t, QString> awaiting_;
    // Lines wait here for a moment and reach the view together, so that a busy server does not
    // spend its UI thread laying out each line on its own.
    QStringList pending_;
    QTimer* flushTimer_ = nullptr;
    // The lines of the last flush not in the view yet: they go in a few per turn of the event
    // loop, so that the listener is never held up for long.
    QStringList showing_;
    QTimer* turnTimer_ = nullptr;
};
