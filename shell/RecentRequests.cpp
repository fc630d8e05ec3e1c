#include "shell/RecentRequests.h"

#include "server/Reply.h"
#include "server/Transfers.h"

#include <QTimer>

#include <algorithm>

namespace {

// Lines reach the view four times a second: enough to follow, and a busy server does not spend
// its UI thread laying out lines nobody can read that fast.
constexpr int kFlushDelayMs = 250;
// Lines laid out in one turn of the event loop. The view measures every line it is given (it
// scrolls sideways), some 25 µs a line here: a hundred at once held the UI thread, and with it
// every accept, for about 3 ms four times a second under load.
constexpr qsizetype kLinesPerTurn = 10;

} // namespace

TRecentRequests::TRecentRequests(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("RecentRequests"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kRecentRequests);
    setMinimumHeight(48);
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushDelayMs);
    connect(flushTimer_, &QTimer::timeout, this, &TRecentRequests::flush);
    turnTimer_ = new QTimer(this);
    turnTimer_->setSingleShot(true);
    turnTimer_->setInterval(0);
    connect(turnTimer_, &QTimer::timeout, this, &TRecentRequests::showSome);
}

QString TRecentRequests::AnsweredLine(const QString& line, int status, int64_t bytes) {
    const QString answer = status == 0 ? QStringLiteral("no answer")
                                       : QStringLiteral("%1 %2").arg(status).arg(
                                             QString::fromLatin1(reply::ReasonPhrase(status)));
    return line + QLatin1Char('\t') + answer + QLatin1Char('\t') +
           QString::fromStdString(transfers::SizeText(bytes));
}

void TRecentRequests::AddRequest(uint64_t number, const QByteArray& line) {
    if (awaiting_.size() >= kMostAwaiting)
        awaiting_.clear();
    awaiting_.insert(number, QString::fromLocal8Bit(line));
}

void TRecentRequests::AnswerRequest(uint64_t number, int status, int64_t bytes) {
    const auto found = awaiting_.constFind(number);
    if (found == awaiting_.constEnd())
        return;
    queue(AnsweredLine(*found, status, bytes));
    awaiting_.erase(found);
}

void TRecentRequests::queue(const QString& line) {
    pending_.append(line);
    // Lines the view would drop at once are not laid out at all.
    while (showing_.size() + pending_.size() > kRecentRequests)
        (showing_.isEmpty() ? pending_ : showing_).removeFirst();
    if (!flushTimer_->isActive())
        flushTimer_->start();
}

void TRecentRequests::showEvent(QShowEvent* event) {
    QPlainTextEdit::showEvent(event);
    if (!pending_.isEmpty() || !showing_.isEmpty())
        flush();
}

void TRecentRequests::flush() {
    // Lines for a page nobody sees wait (the last hundred of them) until it is shown.
    if (!isVisible())
        return;
    showing_.append(pending_);
    pending_.clear();
    showSome();
}

// Lines that come meanwhile wait for the next flush: laying out each as it comes would cost
// the UI thread far more under load.
void TRecentRequests::showSome() {
    if (!isVisible() || showing_.isEmpty())
        return;
    // The view keeps the last hundred blocks and, when it was scrolled to the bottom, stays there.
    const qsizetype now = std::min<qsizetype>(showing_.size(), kLinesPerTurn);
    appendPlainText(showing_.first(now).join(QLatin1Char('\n')));
    showing_.remove(0, now);
    if (!showing_.isEmpty() && !turnTimer_->isActive())
        turnTimer_->start();
}
