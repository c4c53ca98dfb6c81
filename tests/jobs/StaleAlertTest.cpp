#include "jobs/StaleAlert.h"

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

} // namespace
