#include "server/RequestLog.h"

#include "config/ServerSettings.h"
#include "server/ServerContext.h"

#include <QLocale>

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

QByteArray Line(const QString& stamp, const std::string& peer, const std::string& requestLine) {
    QByteArray bytes = stamp.toLocal8Bit();
    bytes += '\t';
    bytes += QByteArray::fromStdString(peer);
    bytes += '\t';
    bytes += QByteArray::fromStdString(requestLine);
    return bytes;
}

void Write(ServerContext& context, const std::string& peer, const std::string& requestLine) {
    const ServerSettings& s = context.settings;
    if (!s.LogEnabled && !context.requestLogged)
        return;
    // Only the UI thread writes lines.
    static Stamp stamp;
    const QByteArray line = Line(stamp.Now(), peer, requestLine);
    if (context.requestLogged)
        context.requestLogged(line);
    if (s.LogEnabled)
        AppendToLog(s.LogFile, line);
}

} // namespace requestlog
