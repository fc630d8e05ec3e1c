#include "shell/LCDate.h"

#include <cstdint>

// Defined in the source the build writes (BuildStamp.cmake).
extern const int64_t kKoruBuildSecondsSinceEpoch;

namespace {

// The locale's long time format without its time-zone field: the zone says where the build ran,
// which the reader of the About text does not care about.
QString longTimeFormat(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            result += c;
    }
    return result.simplified();
}

} // namespace

TLCDate::TLCDate(QObject* parent) : QObject(parent), manual_(BuildDateTime()) {}

QDateTime TLCDate::BuildDateTime() {
    return QDateTime::fromSecsSinceEpoch(kKoruBuildSecondsSinceEpoch);
}

QString DateTimeToStr(const QDateTime& value, const QLocale& locale) {
    const QString date = locale.toString(value.date(), QLocale::ShortFormat);
    if (value.time() == QTime(0, 0))
        return date;
    return date + u' ' + locale.toString(value.time(), longTimeFormat(locale));
}
