// The log's lines and their time stamp, formatted once a second.
#include "server/RequestLog.h"

#include <QDateTime>
#include <QLocale>

#include <gtest/gtest.h>

TEST(RequestLog, ALineIsStampPeerAndRequestLineBetweenTabs) {
    EXPECT_EQ(requestlog::Line("9.12.26 14:00:01", "127.0.0.1", "GET / HTTP/1.0\r"),
              QByteArray("9.12.26 14:00:01\t127.0.0.1\tGET / HTTP/1.0\r"));
}

TEST(RequestLog, TheStampIsTheSystemsDateAndTimeOfItsSecond) {
    requestlog::Stamp stamp;
    const qint64 second = QDateTime(QDate(2026, 12, 9), QTime(14, 0, 1)).toSecsSinceEpoch();
    const QLocale locale = QLocale::system();
    const QString expected = locale.toString(QDateTime::fromSecsSinceEpoch(second),
                                             locale.dateFormat(QLocale::ShortFormat) + " " +
                                                 locale.timeFormat(QLocale::LongFormat));
    EXPECT_EQ(stamp.At(second), expected);
    EXPECT_EQ(stamp.At(second), expected) << "the same second again";
    EXPECT_NE(stamp.At(second + 1), expected) << "a new second is formatted anew";
    EXPECT_EQ(stamp.At(second), expected) << "and an earlier one too";

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QString now = stamp.Now();
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    EXPECT_TRUE(now == stamp.At(before) || now == stamp.At(after)) << now.toStdString();
}
