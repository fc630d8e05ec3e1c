#include "shell/LCDate.h"

#include <gtest/gtest.h>

namespace {

TEST(LCDateTest, HoldsTheBuildTimeUnlessSetByHand) {
    TLCDate date;
    const QDateTime built = date.LCDate();
    ASSERT_TRUE(built.isValid());
    EXPECT_EQ(built, TLCDate::BuildDateTime());
    EXPECT_LE(built, QDateTime::currentDateTime().addSecs(60)) << "stamped by this build";
    EXPECT_GT(built, QDateTime(QDate(2020, 1, 1), QTime(0, 0)));

    const QDateTime byHand(QDate(1999, 12, 31), QTime(23, 59, 58));
    date.SetLCDate(byHand);
    EXPECT_EQ(date.LCDate(), built) << "ignored while AU_LCD is on";
    date.SetAU_LCD(false);
    EXPECT_EQ(date.LCDate(), byHand);
}

TEST(LCDateTest, ShortDateAndLongTimeWithoutTheTimeAtMidnight) {
    const QDate day(2024, 3, 5);
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(DateTimeToStr(QDateTime(day, QTime(14, 7, 9)), german), "05.03.24 14:07:09");
    EXPECT_EQ(DateTimeToStr(QDateTime(day, QTime(14, 7, 9)), american), "3/5/24 2:07:09 PM");
    EXPECT_EQ(DateTimeToStr(QDateTime(day, QTime(0, 0)), german), "05.03.24");
    EXPECT_EQ(DateTimeToStr(QDateTime(day, QTime(0, 0, 1)), german), "05.03.24 00:00:01");
}

} // namespace
