#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>

struct ServerContext;

// The request log: one line per request line received, "<stamp> TAB <peer> TAB <line>", written
// on the UI thread in the order the workers handed the lines over.
namespace requestlog {

// The time stamp of the lines: the system's short date and long time. Formatting a date asks the
// system's time zone each time; a stamp only changes once a second, so it is formatted once a
// second. One clock per thread that writes lines.
class Stamp {
public:
    QString Now();
    QString At(qint64 secondsSinceEpoch);
    // Now(), in the local encoding the log is written in: converted once a second too.
    const QByteArray& NowBytes();

private:
    qint64 second_ = -1;
    QString text_;
    qint64 bytesSecond_ = -1;
    QByteArray bytes_;
};

// The line as the log has it, without its line end. `requestLine` has had its control bytes
// escaped already.
QByteArray Line(const QString& stamp, const std::string& peer, const std::string& requestLine);
// The same, from a stamp already in the local encoding.
QByteArray EncodedLine(const QByteArray& stamp, const std::string& peer,
                       const std::string& requestLine);

// Writes the line for a request: to the window's recent requests and, when the log is on, to the
// log file. UI thread only.
void Write(ServerContext& context, uint64_t number, const std::string& peer,
           const std::string& requestLine);

// What the user is told when lines cannot be written to the log file, with the reason (an errno).
QString LossText(const QString& logFile, int cause);

} // namespace requestlog
