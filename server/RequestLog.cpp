#include "server/RequestLog.h"

#include "config/ServerSettings.h"
#include "platform/ErrnoText.h"
#include "server/ServerContext.h"

#include <QLocale>

#include <cerrno>

namespace requestlog {

QString Stamp::Now() {
    // The second is read without the time zone; only a new second asks for it.
    return At(QDateTime::currentSecsSinceEpoch());
}

QString Stamp::At(qint64 secondsSinceEpoch) {
    if (secondsSinceEpoch != second_) {
        const QLocale locale = QLocale::system();
        text_ = locale.toString(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch),
                                locale.dateFormat(QLocale::ShortFormat) + " " +
                                    locale.timeFormat(QLocale::LongFormat));
        second_ = secondsSinceEpoch;
    }
    return text_;
}

const QByteArray& Stamp::NowBytes() {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != bytesSecond_) {
        bytes_ = At(now).toLocal8Bit();
        bytesSecond_ = now;
    }
    return bytes_;
}

QByteArray Line(const QString& stamp, const std::string& peer, const std::string& requestLine) {
    return EncodedLine(stamp.toLocal8Bit(), peer, requestLine);
}

// One allocation per line: the server writes one for every request.
QByteArray EncodedLine(const QByteArray& stamp, const std::string& peer,
                       const std::string& requestLine) {
    QByteArray bytes;
    bytes.reserve(stamp.size() + static_cast<qsizetype>(peer.size() + requestLine.size()) + 2);
    bytes.append(stamp)
        .append('\t')
        .append(peer.data(), static_cast<qsizetype>(peer.size()))
        .append('\t')
        .append(requestLine.data(), static_cast<qsizetype>(requestLine.size()));
    return bytes;
}

namespace {

// Lines reach the file again, or none is meant to: a later loss is news again.
void endLoss(ServerContext& context) {
    if (!context.logLossReported)
        return;
    context.logLossReported = false;
    if (context.logLossEnded)
        context.logLossEnded();
}

} // namespace

void Write(ServerContext& context, uint64_t number, const std::string& peer,
           const std::string& requestLine) {
    const ServerSettings& s = context.settings;
    if (!s.LogEnabled)
        endLoss(context);
    if (!s.LogEnabled && !context.requestLogged)
        return;
    // Only the UI thread writes lines.
    static Stamp stamp;
    const QByteArray line = EncodedLine(stamp.NowBytes(), peer, requestLine);
    if (context.requestLogged)
        context.requestLogged(number, line);
    if (!s.LogEnabled)
        return;
    if (AppendToLog(s.LogFile, line)) {
        endLoss(context);
        return;
    }
    if (context.logLossReported)
        return; // said once: a full disk would otherwise say it for every request
    context.logLossReported = true;
    const QString problem = LossText(s.LogFile, errno);
    qWarning("%s", qPrintable(problem));
    if (context.logLineLost)
        context.logLineLost(problem);
}

QString LossText(const QString& logFile, int cause) {
    return QStringLiteral("Request log lines are lost (%1): cannot write to %2")
        .arg(platform::ErrnoText(cause), logFile);
}

} // namespace requestlog
