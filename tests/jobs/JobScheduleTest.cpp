#include "jobs/JobSchedule.h"

#include "TempDir.h"
#include "jobs/Alarm.h"
#include "jobs/JobRecord.h"

#include <gtest/gtest.h>

namespace {

// A moment on an ordinary day, 2026-03-10.
TDateTime At(int hour, int minute, int second = 0) {
    return EncodeDateTime({2026, 3, 10, hour, minute, second, 0});
}

TJobScheduleTexts Daily(const std::string& dateJob) {
    TJobScheduleTexts texts;
    texts.FCbJobValid = "True";
    texts.FRbDay = "True";
    texts.FDateJob = dateJob;
    return texts;
}

TJobScheduleTexts Periodic(int length, int unit, const std::string& begin, const std::string& end) {
    TJobScheduleTexts texts;
    texts.FCbJobValid = "True";
    texts.FRbDay = "False";
    texts.FEditMinute = std::to_string(length);
    texts.FCbTime = std::to_string(unit);
    // The pickers' dates are whatever they held; only hour and minute count.
    texts.FTimeBegin = "2019-07-02 " + begin + ":27";
    texts.FTimeEnd = "2031-11-30 " + end + ":05";
    return texts;
}

std::string Next(const TJobScheduleTexts& texts, TDateTime now) {
    return FormatNextRun(NextRunTime(texts, now));
}

TEST(JobSchedule, ADailyJobArmsItsHourAndMinuteWhateverTheTime) {
    const TJobScheduleTexts job = Daily("2010-05-06 17:30:45");
    EXPECT_EQ(Next(job, At(9, 0)), "17:30");
    EXPECT_EQ(Next(job, At(18, 0)), "17:30");
    EXPECT_EQ(NextRunTime(job, At(9, 0)), EncodeDateTime({2005, 1, 1, 17, 30, 0, 0}));
    // Midnight is a time like any other, not "nothing armed".
    EXPECT_EQ(Next(Daily("1899-12-30"), At(9, 0)), "00:00");
    EXPECT_NE(NextRunTime(Daily("1899-12-30"), At(9, 0)), NothingArmed);
}

TEST(JobSchedule, PeriodicMinutesCountFromTheRescheduleInsideTheWindow) {
    const TJobScheduleTexts job = Periodic(30, 0, "08:00", "18:00");
    EXPECT_EQ(Next(job, At(10, 12, 40)), "10:42"); // seconds dropped
    EXPECT_EQ(Next(job, At(8, 0)), "08:30");       // the beginning is inside
    EXPECT_EQ(Next(job, At(17, 30, 59)), "18:00"); // so is the end
}

TEST(JobSchedule, OutsideTheWindowTheFirstRunIsTheBeginningPlusOnePeriod) {
    const TJobScheduleTexts job = Periodic(30, 0, "08:00", "18:00");
    EXPECT_EQ(Next(job, At(20, 0)), "08:30");
    EXPECT_EQ(Next(job, At(7, 59, 59)), "08:30");
    EXPECT_EQ(Next(job, At(0, 0)), "08:30");
}

// A next time past the window's end arms the window's first run instead of
// nothing, which used to leave the job unarmed on every later day.
TEST(JobSchedule, ANextTimePastTheWindowArmsTheNextDaysFirstRun) {
    const TJobScheduleTexts job = Periodic(30, 0, "08:00", "18:00");
    EXPECT_EQ(Next(job, At(17, 45)), "08:30"); // 18:15 is past the window
    EXPECT_EQ(Next(job, At(18, 0)), "08:30");
    // 23:30 + 50 minutes lies past midnight, on the day after the reference day.
    EXPECT_EQ(Next(Periodic(50, 0, "00:00", "23:59"), At(23, 30)), "00:50");
    // A period longer than the window has no run inside it at all.
    EXPECT_EQ(Next(Periodic(5, 1, "08:00", "12:00"), At(10, 0)), "暂停");
}

TEST(JobSchedule, PeriodicHoursFallOnWholeHoursAndWrapAtMidnight) {
    EXPECT_EQ(Next(Periodic(1, 1, "08:00", "18:00"), At(10, 12)), "11:00");
    EXPECT_EQ(Next(Periodic(2, 1, "00:00", "23:59"), At(23, 20)), "01:00");
    EXPECT_EQ(NextRunTime(Periodic(2, 1, "00:00", "23:59"), At(23, 20)),
              EncodeDateTime({2005, 1, 1, 1, 0, 0, 0}));
    // Outside the window: the beginning plus the period, down to its hour.
    EXPECT_EQ(Next(Periodic(2, 1, "08:30", "18:00"), At(20, 0)), "10:00");
    // A wrapped sum before the beginning is past the window too.
    EXPECT_EQ(Next(Periodic(2, 1, "08:00", "23:59"), At(23, 0)), "10:00");
    // Any unit but 0 counts as hours.
    EXPECT_EQ(Next(Periodic(1, 7, "08:00", "18:00"), At(10, 12)), "11:00");
}

TEST(JobSchedule, MidnightStartsAWindowLikeAnyOtherMinute) {
    const TJobScheduleTexts job = Periodic(30, 0, "00:00", "23:59");
    EXPECT_EQ(Next(job, At(0, 0)), "00:30");
    EXPECT_EQ(Next(job, At(23, 59)), "00:30"); // 00:29 the next day is past the window
    EXPECT_EQ(Next(Periodic(15, 0, "22:00", "23:59"), At(23, 50)), "22:15");
}

TEST(JobSchedule, DisabledMissingOrUnconvertibleValuesArmNothing) {
    TJobScheduleTexts lowerCase = Daily("2005-01-01 17:30:00");
    lowerCase.FCbJobValid = "true";
    EXPECT_EQ(NextRunTime(lowerCase, At(9, 0)), NothingArmed);
    EXPECT_EQ(Next(lowerCase, At(9, 0)), "暂停");

    EXPECT_EQ(NextRunTime(Daily("17:30"), At(9, 0)), NothingArmed);
    TJobScheduleTexts noDate = Daily("");
    noDate.FDateJob.reset();
    EXPECT_EQ(NextRunTime(noDate, At(9, 0)), NothingArmed);

    TJobScheduleTexts badPeriod = Periodic(30, 0, "08:00", "18:00");
    badPeriod.FEditMinute = "30.5";
    EXPECT_EQ(NextRunTime(badPeriod, At(9, 0)), NothingArmed);
    TJobScheduleTexts badUnit = Periodic(30, 0, "08:00", "18:00");
    badUnit.FCbTime = "min";
    EXPECT_EQ(NextRunTime(badUnit, At(9, 0)), NothingArmed);
    TJobScheduleTexts noEnd = Periodic(30, 0, "08:00", "18:00");
    noEnd.FTimeEnd.reset();
    EXPECT_EQ(NextRunTime(noEnd, At(9, 0)), NothingArmed);

    // A daily job does not read the period, so a bad one does not matter.
    TJobScheduleTexts dailyBadPeriod = Daily("2005-01-01 17:30:00");
    dailyBadPeriod.FEditMinute = "x";
    EXPECT_EQ(Next(dailyBadPeriod, At(9, 0)), "17:30");
    // A missing period is 0 minutes: the current minute.
    TJobScheduleTexts noPeriod = Periodic(30, 0, "08:00", "18:00");
    noPeriod.FEditMinute.reset();
    noPeriod.FCbTime.reset();
    EXPECT_EQ(Next(noPeriod, At(9, 10, 30)), "09:10");
}

TEST(JobSchedule, ReadsTheJobSectionOfTheConfiguration) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    EXPECT_EQ(NextRunTime(ini, "Nightly", At(9, 0)), NothingArmed); // no section: disabled

    TJobRecord record;
    record.FCbJobValid = true;
    record.FRbPeriod = true;
    record.FEditMinute = 30;
    record.FTimeBegin = EncodeDateTime({2026, 1, 1, 8, 0, 0, 0});
    record.FTimeEnd = EncodeDateTime({2026, 1, 1, 18, 0, 0, 0});
    WriteJob(ini, "Nightly", record);
    EXPECT_EQ(FormatNextRun(NextRunTime(ini, "Nightly", At(10, 12, 40))), "10:42");

    ini.WriteString("job_Nightly", "RbDay", "True");
    ini.WriteString("job_Nightly", "DateJob", "2026/1/1 7:05:00");
    EXPECT_EQ(FormatNextRun(NextRunTime(ini, "Nightly", At(10, 0))), "07:05");
    ini.WriteString("job_Nightly", "DateJob", "");
    EXPECT_EQ(NextRunTime(ini, "Nightly", At(10, 0)), NothingArmed);
}

// The row arms its alarm with what the schedule returns and checks it every
// 450 ms: the first moment between from and to at which it fires.
std::optional<TDateTime> FirstFiring(TDateTime armed, TDateTime rescheduledAt, TDateTime to) {
    TAlarm alarm;
    alarm.Arm(armed, rescheduledAt);
    for (TDateTime now = rescheduledAt; now <= to; now.FMilliseconds += 450) {
        if (alarm.Check(now)) {
            return now;
        }
    }
    return std::nullopt;
}

TEST(JobSchedule, ADailyJobRescheduledBeforeItsTimeFiresTodayOtherwiseTomorrow) {
    const TJobScheduleTexts job = Daily("2005-01-01 17:30:00");
    const TDateTime tomorrowNight = EncodeDateTime({2026, 3, 11, 23, 0, 0, 0});
    const auto morning = FirstFiring(NextRunTime(job, At(9, 0)), At(9, 0), tomorrowNight);
    ASSERT_TRUE(morning);
    EXPECT_GE(*morning, At(17, 30));
    EXPECT_LT(*morning, TDateTime{At(17, 30).FMilliseconds + 500});

    const auto evening = FirstFiring(NextRunTime(job, At(18, 0)), At(18, 0), tomorrowNight);
    ASSERT_TRUE(evening);
    EXPECT_EQ(DecodeDateTime(*evening).FDay, 11);
    EXPECT_EQ(FormatTimeOfDay(*evening), "17:30:00");
}

TEST(JobSchedule, APeriodicJobPastItsWindowRunsTheNextMorning) {
    const TJobScheduleTexts job = Periodic(30, 0, "08:00", "18:00");
    const auto firing =
        FirstFiring(NextRunTime(job, At(17, 45)), At(17, 45), EncodeDateTime({2026, 3, 11, 12, 0, 0, 0}));
    ASSERT_TRUE(firing);
    EXPECT_EQ(*firing, EncodeDateTime({2026, 3, 11, 8, 30, 0, 0}));
}

TEST(JobSchedule, NothingArmedDisablesTheAlarm) {
    TAlarm alarm;
    alarm.Arm(NextRunTime(Daily("2005-01-01 09:00:00"), At(8, 0)), At(8, 0));
    EXPECT_TRUE(alarm.Enabled());
    EXPECT_EQ(alarm.Hour(), 9);
    alarm.Arm(NothingArmed, At(8, 0));
    EXPECT_FALSE(alarm.Enabled());
    EXPECT_FALSE(alarm.Check(At(9, 0)));
}

} // namespace
