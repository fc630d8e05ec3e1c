#pragma once

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>

// Holds the date and time of the program's last build, for the About text.
class TLCDate : public QObject {
    Q_OBJECT
public:
    explicit TLCDate(QObject* parent = nullptr);

    // The build's date and time while AU_LCD is true, otherwise the value set by hand.
    QDateTime LCDate() const { return autoDate_ ? BuildDateTime() : manual_; }
    void SetLCDate(const QDateTime& value) { manual_ = value; }
    bool AU_LCD() const { return autoDate_; }
    void SetAU_LCD(bool autoDate) { autoDate_ = autoDate; }

    // When the build ran, in local time; fixed into the program by the build.
    static QDateTime BuildDateTime();

private:
    bool autoDate_ = true;
    QDateTime manual_;
};

// The locale's short date, a blank and its long time (without a time zone); the time is left out
// at exactly midnight.
QString DateTimeToStr(const QDateTime& value, const QLocale& locale = QLocale::system());
