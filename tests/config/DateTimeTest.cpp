#include "config/DateTime.h"

#include <gtest/gtest.h>

TEST(DateTime, EncodesAndDecodesCalendarFields) {
    const TDateTime value = EncodeDateTime({2004, 8, 13, 23, 59, 59, 999});
    const TDateTimeFields f = DecodeDateTime(value);
    EXPECT_EQ(f.FYear, 2004);
    EXPECT_EQ(f.FMonth, 8);
    EXPECT_EQ(f.FDay, 13);
    EXPECT_EQ(f.FHour, 23);
    EXPECT_EQ(f.FMinute, 59);
    EXPECT_EQ(f.FSecond, 59);
    EXPECT_EQ(f.FMillisecond, 999);
    EXPECT_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}).FMilliseconds, 0);
    EXPECT_EQ(StartOfDay(value), EncodeDateTime({2004, 8, 13, 0, 0, 0, 0}));
}

TEST(DateTime, FormatsRunLogTexts) {
    const TDateTime value = EncodeDateTime({2005, 1, 1, 7, 5, 3, 0});
    EXPECT_EQ(FormatTimeOfDay(value), "07:05:03");
    EXPECT_EQ(FormatLogDate(value), "2005.01.01");
    EXPECT_EQ(FormatChineseDate(value), "2005年1月1日");
    EXPECT_EQ(FormatSpendTime((3 * 60 + 5) * 1000), "00:03:05");
    EXPECT_EQ(FormatSpendTime((25 * 3600 + 10 * 60) * 1000LL), "01:10:00");
}

TEST(DateTime, StoredTextRoundTripsAndReadsShortDates) {
    const TDateTime withTime = EncodeDateTime({2005, 1, 1, 17, 30, 0, 0});
    EXPECT_EQ(DateTimeToText(withTime), "2005-01-01 17:30:00");
    EXPECT_EQ(DateTimeToText(StartOfDay(withTime)), "2005-01-01");
    EXPECT_EQ(TryTextToDateTime("2005-01-01 17:30:00"), withTime);
    EXPECT_EQ(TryTextToDateTime("2005/1/1 17:30:00"), withTime);
    EXPECT_EQ(TryTextToDateTime("2005-1-1"), StartOfDay(withTime));
    EXPECT_EQ(TryTextToDateTime("2005-01-01 00:00"), StartOfDay(withTime));
    EXPECT_FALSE(TryTextToDateTime("abc"));
    EXPECT_FALSE(TryTextToDateTime(""));
    EXPECT_FALSE(TryTextToDateTime("2005-02-30"));
    EXPECT_FALSE(TryTextToDateTime("2005-01-01 25:00:00"));
    EXPECT_FALSE(TryTextToDateTime("2005-01-01x"));
}
