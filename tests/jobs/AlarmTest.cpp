#include "jobs/Alarm.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TDateTime On(int day, int hour, int minute, int second = 0, int millisecond = 0) {
    return EncodeDateTime({2026, 3, day, hour, minute, second, millisecond});
}

// Checks every 450 ms from from (included) up to to (excluded), as the row's
// timer does, and returns the moments at which the alarm fired.
std::vector<TDateTime> Tick(TAlarm& alarm, TDateTime from, TDateTime to) {
    std::vector<TDateTime> fired;
    for (TDateTime now = from; now < to; now.FMilliseconds += 450) {
        if (alarm.Check(now)) {
            fired.push_back(now);
        }
    }
    return fired;
}

TAlarm Armed(int hour, int minute, TDateTime now) {
    TAlarm alarm;
    alarm.SetTime(hour, minute, now);
    alarm.SetEnabled(true);
    return alarm;
}

TEST(Alarm, ArmedForLaterTodayFiresOnceAtTheStartOfItsMinuteAndAgainEachDay) {
    TAlarm alarm = Armed(17, 30, On(10, 9, 0));
    EXPECT_TRUE(alarm.Waiting());
    const std::vector<TDateTime> fired = Tick(alarm, On(10, 17, 29, 50), On(12, 17, 31));
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_LT(fired[0], On(10, 17, 30, 0, 450));
    EXPECT_GE(fired[0], On(10, 17, 30));
    EXPECT_EQ(FormatTimeOfDay(fired[1]), "17:30:00");
    EXPECT_EQ(DecodeDateTime(fired[2]).FDay, 12);
}

TEST(Alarm, ArmedForAPastTimeOrTheRunningMinuteFirstFiresTomorrow) {
    TAlarm past = Armed(9, 15, On(10, 18, 0));
    EXPECT_FALSE(past.Waiting());
    const std::vector<TDateTime> pastFired = Tick(past, On(10, 18, 0), On(11, 12, 0));
    ASSERT_EQ(pastFired.size(), 1u);
    EXPECT_EQ(pastFired[0], On(11, 9, 15));

    TAlarm running = Armed(10, 0, On(10, 10, 0, 30));
    const std::vector<TDateTime> runningFired = Tick(running, On(10, 10, 0, 30), On(11, 10, 1));
    ASSERT_EQ(runningFired.size(), 1u);
    EXPECT_EQ(DecodeDateTime(runningFired[0]).FDay, 11);

    // Armed at the very first millisecond of its minute: that minute is running already.
    TAlarm atTheStroke = Armed(10, 0, On(10, 10, 0, 0, 0));
    EXPECT_FALSE(atTheStroke.Waiting());
    const std::vector<TDateTime> strokeFired = Tick(atTheStroke, On(10, 10, 0, 0, 0), On(11, 10, 1));
    ASSERT_EQ(strokeFired.size(), 1u);
    EXPECT_EQ(strokeFired[0], On(11, 10, 0, 0, 0));
}

TEST(Alarm, ADisabledAlarmNeverFiresAndReArmingRecomputesWaiting) {
    TAlarm alarm;
    alarm.SetTime(10, 0, On(10, 9, 0));
    EXPECT_TRUE(Tick(alarm, On(10, 9, 59), On(10, 10, 0, 30)).empty());
    // Enabled within its minute after a check there cleared the waiting flag: no firing.
    alarm.SetEnabled(true);
    EXPECT_TRUE(Tick(alarm, On(10, 10, 0, 30), On(10, 10, 3)).empty());
    alarm.SetTime(10, 5, On(10, 10, 3));
    const std::vector<TDateTime> fired = Tick(alarm, On(10, 10, 3), On(10, 10, 6));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(FormatTimeOfDay(fired[0]), "10:05:00");
}

TEST(Alarm, FiresAcrossMidnight) {
    TAlarm late = Armed(23, 59, On(10, 23, 58));
    EXPECT_EQ(Tick(late, On(10, 23, 58), On(11, 0, 2)).size(), 1u);

    TAlarm midnight = Armed(0, 0, On(10, 23, 50));
    const std::vector<TDateTime> fired = Tick(midnight, On(10, 23, 59, 59), On(11, 0, 2));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0], On(11, 0, 0, 0, 350)); // the first check of the new day
}

// Armed exactly at 00:00 it always waits, so armed during the minute 00:00 it
// fires at once, and only once in that minute.
TEST(Alarm, TheMidnightAlarmArmedDuringMidnightFiresAtOnce) {
    TAlarm alarm = Armed(0, 0, On(10, 0, 0, 20));
    EXPECT_TRUE(alarm.Waiting());
    const std::vector<TDateTime> fired = Tick(alarm, On(10, 0, 0, 20), On(11, 0, 0, 30));
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0], On(10, 0, 0, 20));
    EXPECT_EQ(DecodeDateTime(fired[1]).FDay, 11);

    // Its run ends within the minute and re-arms the job: no second run.
    TAlarm daily = Armed(0, 0, On(10, 23, 59));
    EXPECT_EQ(Tick(daily, On(10, 23, 59, 59), On(11, 0, 0, 5)).size(), 1u);
    daily.SetTime(0, 0, On(11, 0, 0, 5));
    EXPECT_TRUE(Tick(daily, On(11, 0, 0, 5), On(11, 0, 1)).empty());
    EXPECT_EQ(Tick(daily, On(11, 0, 1), On(12, 0, 1)).size(), 1u); // the next night
}

TEST(Alarm, AClockSetBackFiresAgainAClockSetForwardSkipsTheMinute) {
    TAlarm alarm = Armed(10, 0, On(10, 9, 0));
    EXPECT_EQ(Tick(alarm, On(10, 9, 59, 50), On(10, 10, 0, 40)).size(), 1u);
    // Back within the minute: the waiting flag is not recomputed there.
    EXPECT_TRUE(Tick(alarm, On(10, 10, 0, 10), On(10, 10, 0, 50)).empty());
    // Back before the minute: it waits again and fires again.
    EXPECT_EQ(Tick(alarm, On(10, 9, 30), On(10, 10, 1)).size(), 1u);

    // Forward over the minute: missed today.
    TAlarm skipped = Armed(10, 0, On(10, 9, 0));
    EXPECT_FALSE(skipped.Check(On(10, 9, 50)));
    EXPECT_FALSE(skipped.Check(On(10, 10, 30)));
    EXPECT_FALSE(skipped.Waiting());
    // Forward into the minute: fires.
    TAlarm into = Armed(10, 0, On(10, 9, 0));
    EXPECT_FALSE(into.Check(On(10, 9, 50)));
    EXPECT_TRUE(into.Check(On(10, 10, 0, 30)));
}

} // namespace
