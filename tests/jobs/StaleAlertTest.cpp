#include "jobs/StaleAlert.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

TDateTime At(int day, int hour, int minute, int second = 0) {
    return EncodeDateTime({2026, 3, day, hour, minute, second, 0});
}

// The alert comes at exactly StaleDays days after the last clean run, counted
// from the first start when there never was one; never for a disabled job, a
// job with the alert off, or a job that never started.
TEST(StaleAlertTest, DueFromExactlyStaleDaysWithoutACleanRun) {
    TJobRunState state;
    state.FFirstStart = At(1, 2, 30);
    state.FLastCleanEnd = At(10, 2, 31);
    EXPECT_EQ(StaleBackupDays(3, true, state, At(13, 2, 30, 59)), std::nullopt); // 1 s short
    EXPECT_EQ(StaleBackupDays(3, true, state, At(13, 2, 31)), 3);
    EXPECT_EQ(StaleBackupDays(3, true, state, At(15, 2, 30)), 4);
    EXPECT_EQ(StaleBackupText(4), "已 4 天未成功同步");

    EXPECT_EQ(StaleBackupDays(0, true, state, At(30, 0, 0)), std::nullopt);  // off
    EXPECT_EQ(StaleBackupDays(3, false, state, At(30, 0, 0)), std::nullopt); // disabled
    EXPECT_EQ(StaleBackupDays(3, true, state, At(9, 0, 0)), std::nullopt);   // clock behind the state

    // Runs since, none of them clean: counted from the first start.
    state.FLastCleanEnd.reset();
    state.FLastStart = At(9, 2, 30);
    EXPECT_EQ(StaleBackupDays(8, true, state, At(9, 2, 29)), std::nullopt);
    EXPECT_EQ(StaleBackupDays(8, true, state, At(9, 2, 30)), 8);

    EXPECT_EQ(StaleBackupDays(3, true, TJobRunState{}, At(30, 0, 0)), std::nullopt); // never started
}

// The notice is told once a calendar day per job, by whichever teller comes
// first (the window or the daemon); one started again reads the day from the
// state file and does not repeat it.
TEST(StaleAlertTest, TheNoticeIsToldOnceADayAcrossRestarts) {
    TTempDir dir;
    const std::string config = dir / "pairwell.ini";
    TStaleNoticeDays window(config);
    EXPECT_TRUE(window.Claim("Usb", At(10, 9, 0)));
    EXPECT_FALSE(window.Claim("Usb", At(10, 23, 59)));
    EXPECT_TRUE(window.Claim("Other", At(10, 23, 59)));

    TStaleNoticeDays restarted(config);
    EXPECT_FALSE(restarted.Claim("Usb", At(10, 23, 59, 59)));
    EXPECT_TRUE(restarted.Claim("Usb", At(11, 0, 0)));
    EXPECT_FALSE(window.Claim("Usb", At(11, 8, 0))); // told by the other one today
    TJobState(config).RecordStart("Usb", At(11, 9, 0));
    EXPECT_EQ(TJobState(config).Read("Usb").FLastStaleNotice, At(11, 0, 0));
}

} // namespace
