// Catch-up of missed runs and the change and connect triggers, with clocks
// the tests move by hand and real folders under inotify.

#include "jobs/JobDaemon.h"
#include "jobs/JobTriggers.h"

#include "JobTestSupport.h"
#include "config/ChildProcess.h"

#include <atomic>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

TDateTime At(int day, int hour, int minute, int second = 0) {
    return EncodeDateTime({2026, 3, day, hour, minute, second, 0});
}

const TSteadyTime T0{std::chrono::hours(1000)};

class TriggerTest : public ::testing::Test {
protected:
    TriggerTest() : FIni(FDir / "pairwell.ini"), FState(FIni.FileName()) {}

    void StoreDaily(const std::string& name, bool catchUp) {
        TJobRecord record;
        record.FCbJobValid = true;
        record.FRbDay = true;
        record.FDateJob = At(1, 2, 30);
        record.FCatchUp = catchUp;
        WriteJob(FIni, name, record);
    }

    TTempDir FDir;
    TIniFile FIni;
    TJobState FState;
};

// A missed run is made up for 2 minutes after the start or after a forward
// jump of the clock, daily and periodic alike; never without CatchUp, never
// when the armed run still lies ahead. A job that never ran has missed nothing
// at the start, and after a jump counts from when watching began.
TEST_F(TriggerTest, CatchUpAfterAStartAndAfterAForwardJump) {
    StoreDaily("Nightly", true);
    StoreDaily("Plain", false);
    StoreDaily("New", true);
    FState.RecordStart("Nightly", At(9, 2, 30));
    FState.RecordStart("Plain", At(9, 2, 30));

    // Armed at its start 02:30 on the 9th, the run was due at 02:30 on the 10th.
    const TJobScheduleTexts daily = ReadJobScheduleTexts(FIni, "Nightly");
    EXPECT_EQ(ArmedRunAt(daily, At(9, 2, 30)), At(10, 2, 30));
    EXPECT_EQ(ArmedRunAt(daily, At(9, 2, 29, 59)), At(9, 2, 30));
    EXPECT_TRUE(MissedRun(daily, At(9, 2, 30), At(10, 2, 30))); // at or before now
    EXPECT_FALSE(MissedRun(daily, At(9, 2, 30), At(10, 2, 29, 59)));

    TJobTriggers nightly(FIni, "Nightly"), plain(FIni, "Plain"), fresh(FIni, "New");
    for (TJobTriggers* triggers : {&nightly, &plain, &fresh}) {
        triggers->Begin(At(10, 9, 0), T0);
    }
    EXPECT_EQ(nightly.InfoText(), "执行预定：09:02");
    EXPECT_EQ(plain.InfoText(), "");
    EXPECT_FALSE(nightly.Poll(At(10, 9, 1, 59), T0 + 119s, false));
    EXPECT_FALSE(nightly.Poll(At(10, 9, 2), T0 + 120s, true)); // paused: it waits
    EXPECT_TRUE(nightly.Poll(At(10, 9, 2, 1), T0 + 121s, false));
    EXPECT_FALSE(plain.Poll(At(10, 9, 3), T0 + 180s, false));
    EXPECT_FALSE(fresh.Poll(At(10, 9, 3), T0 + 180s, false));
    nightly.RunStarted(At(10, 9, 2, 1), T0 + 121s);
    FState.RecordStart("Nightly", At(10, 9, 2, 1));
    nightly.RunEnded();
    EXPECT_EQ(nightly.InfoText(), "");

    // The machine sleeps from 20:00 to 08:00 the next day: the steady clock
    // stands still while the wall clock jumps 12 hours.
    const TSteadyTime evening = T0 + 11h;
    EXPECT_FALSE(nightly.Poll(At(10, 20, 0), evening, false));
    EXPECT_FALSE(plain.Poll(At(10, 20, 0), evening, false));
    EXPECT_FALSE(nightly.Poll(At(11, 8, 0), evening + 1s, false));
    EXPECT_FALSE(plain.Poll(At(11, 8, 0), evening + 1s, false));
    EXPECT_EQ(nightly.InfoText(), "执行预定：08:02");
    // Never ran, watched since 09:00 on the 10th: the 02:30 run slept through
    // is made up for, as for a job that ran; a wake-up before it makes up nothing.
    EXPECT_FALSE(fresh.Poll(At(10, 20, 0), evening, false));
    EXPECT_FALSE(fresh.Poll(At(11, 1, 0), evening + 1s, false));
    EXPECT_EQ(fresh.InfoText(), "");
    EXPECT_FALSE(fresh.Poll(At(11, 8, 0), evening + 2s, false));
    EXPECT_EQ(fresh.InfoText(), "执行预定：08:02");
    EXPECT_FALSE(nightly.Poll(At(11, 8, 1), evening + 61s, false));
    EXPECT_TRUE(nightly.Poll(At(11, 8, 2), evening + 121s, false));
    EXPECT_FALSE(plain.Poll(At(11, 8, 3), evening + 181s, false));
    nightly.RunStarted(At(11, 8, 2), evening + 121s);
    FState.RecordStart("Nightly", At(11, 8, 2));
    nightly.RunEnded();
    // A jump that skips no armed run, and a jump of under 2 minutes, make up for nothing.
    EXPECT_FALSE(nightly.Poll(At(11, 20, 0), evening + 200s, false));
    EXPECT_FALSE(nightly.Poll(At(12, 2, 29), evening + 300s, false));
    EXPECT_FALSE(nightly.Poll(At(12, 2, 30, 30), evening + 301s, false));
    EXPECT_EQ(nightly.InfoText(), "");
    EXPECT_FALSE(nightly.Poll(At(12, 2, 34), evening + 302s, false));
    EXPECT_EQ(nightly.InfoText(), "执行预定：02:36");

    // Periodic, every 30 minutes from 08:00 to 18:00: a start at 10:00
    // armed 10:30, missed by 10:45; a start at 10:20 armed 10:50, not missed.
    TJobRecord periodic;
    periodic.FCbJobValid = true;
    periodic.FRbPeriod = true;
    periodic.FEditMinute = 30;
    periodic.FTimeBegin = At(1, 8, 0);
    periodic.FTimeEnd = At(1, 18, 0);
    periodic.FCatchUp = true;
    WriteJob(FIni, "Half-hourly", periodic);
    FState.RecordStart("Half-hourly", At(10, 10, 0));
    TJobTriggers halfHourly(FIni, "Half-hourly");
    halfHourly.Begin(At(10, 10, 45), T0);
    EXPECT_EQ(halfHourly.InfoText(), "执行预定：10:47");
    FState.RecordStart("Half-hourly", At(10, 10, 20));
    TJobTriggers notMissed(FIni, "Half-hourly");
    notMissed.Begin(At(10, 10, 45), T0);
    EXPECT_EQ(notMissed.InfoText(), "");
}

void Touch(const std::string& path, const std::string& text = "x") {
    WriteTextFile(path, text);
}

// Quiet time, maximum wait and minimum interval on a real tree; a change
// during a run makes one more run; folders made later are watched; past the
// watch limit the job is checked every 5 minutes.
TEST_F(TriggerTest, ChangeTriggerWaitsForQuietButNotLongerThanMaxWait) {
    MakeFolder(FDir / "src/sub");
    TChangeTrigger trigger({FDir / "src"}, {1s, 5s, 10s}, T0);
    EXPECT_FALSE(trigger.LimitReached());
    EXPECT_FALSE(trigger.Poll(T0));
    EXPECT_FALSE(trigger.Poll(T0 + 1h)); // nothing changed, nothing runs

    TSteadyTime t = T0 + 1h;
    Touch(FDir / "src/sub/a.txt");
    EXPECT_FALSE(trigger.Poll(t));         // the first change
    EXPECT_FALSE(trigger.Poll(t + 999ms)); // not quiet long enough
    Touch(FDir / "src/b.txt");             // another change restarts the quiet time
    EXPECT_FALSE(trigger.Poll(t + 1500ms));
    EXPECT_FALSE(trigger.Poll(t + 2499ms));
    EXPECT_TRUE(trigger.Poll(t + 2500ms));
    trigger.RunStarted(t + 2500ms);

    // A change during the run: one more run, no sooner than 10 s after this one began.
    Touch(FDir / "src/sub/a.txt", "changed");
    EXPECT_FALSE(trigger.Poll(t + 3s));
    EXPECT_FALSE(trigger.Poll(t + 5s)); // still running
    trigger.RunEnded();
    EXPECT_FALSE(trigger.Poll(t + 12499ms));
    EXPECT_TRUE(trigger.Poll(t + 12500ms));
    trigger.RunStarted(t + 12500ms);
    trigger.RunEnded();
    EXPECT_FALSE(trigger.Poll(t + 1min)); // that run took the change

    // Changes every half second never leave a quiet second: the run comes
    // 5 s after the first of them.
    t += 1min;
    for (int step = 0; step < 10; ++step) {
        Touch(FDir / "src/busy.txt", std::to_string(step));
        const bool due = trigger.Poll(t + step * 500ms);
        EXPECT_EQ(due, step * 500ms >= 5s) << step;
    }
    EXPECT_TRUE(trigger.Poll(t + 5s));
    trigger.RunStarted(t + 5s);
    trigger.RunEnded();

    // A folder made after the start, and a folder made inside it, are watched.
    std::filesystem::create_directory(FDir / "src/new");
    trigger.Poll(t + 6s);
    trigger.RunStarted(t + 6s);
    trigger.RunEnded();
    EXPECT_FALSE(trigger.Pending());
    std::filesystem::create_directory(FDir / "src/new/deep");
    trigger.Poll(t + 7s);
    trigger.RunStarted(t + 7s);
    trigger.RunEnded();
    Touch(FDir / "src/new/deep/c.txt");
    trigger.Poll(t + 8s);
    EXPECT_TRUE(trigger.Pending());

    // Three folders, room for two watches: a full check every 5 minutes.
    TChangeTrigger limited({FDir / "src"}, {1s, 5s, 10s}, T0, 2);
    EXPECT_TRUE(limited.LimitReached());
    EXPECT_FALSE(limited.Poll(T0 + 299s));
    EXPECT_TRUE(limited.Poll(T0 + 300s));
    limited.RunStarted(T0 + 300s);
    limited.RunEnded();
    EXPECT_FALSE(limited.Poll(T0 + 599s));
    EXPECT_TRUE(limited.Poll(T0 + 600s));

    // A drive mounted over a watched folder: the mount is a change, and files
    // written on the drive are seen. In a mount namespace of its own.
    MakeFolder(FDir / "drive");
    const pid_t child = StartChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return 77;
        }
        TChangeTrigger onDrive({FDir / "drive"}, {1s, 5s, 0s}, T0);
        if (mount("none", (FDir / "drive").c_str(), "tmpfs", 0, nullptr) != 0) {
            return 77;
        }
        onDrive.Poll(T0 + 1s);
        int failures = onDrive.Pending() ? 0 : 1;
        onDrive.RunStarted(T0 + 2s);
        onDrive.RunEnded();
        Touch(FDir / "drive/a.txt");
        onDrive.Poll(T0 + 3s);
        failures += onDrive.Pending() ? 0 : 10;
        umount((FDir / "drive").c_str());
        return failures;
    });
    const int mounted = WaitChild(child);
    if (mounted != 77) {
        EXPECT_EQ(mounted, 0);
    }

    // The job's row and next-run name the kind; past the limit the row says so.
    TJobRecord record;
    record.FCbJobValid = true;
    record.FRbChange = true;
    record.FProjects = {"Site"};
    WriteJob(FIni, "OnChange", record);
    jobtest::StoreProject(FIni, "Site", FDir / "src", FDir / "dst");
    TTriggerTuning tuning;
    tuning.FWatchCap = 2;
    TJobTriggers onChange(FIni, "OnChange", tuning);
    onChange.Begin(Now(), T0);
    EXPECT_EQ(onChange.Kind(), TJobKind::Change);
    EXPECT_EQ(onChange.InfoText(), WatchLimitText);
    EXPECT_EQ(FormatNextRun(NextRunTime(FIni, "OnChange", Now())), NotArmedText); // no alarm
}

// A change job whose target, and version folder, lie inside its source runs
// once for one change and is not set off again by what its run wrote.
TEST_F(TriggerTest, AChangeJobIsNotSetOffByItsOwnWrites) {
    WriteTextFile(FDir / "src/a.txt", "old");
    WriteTextFile(FDir / "src/backup/a.txt", "old");
    SetModifiedTime(FDir / "src/a.txt", 1'000'000'000);
    SetModifiedTime(FDir / "src/backup/a.txt", 1'000'000'000);
    jobtest::StoreProject(FIni, "Inside", FDir / "src", FDir / "src/backup");
    FIni.WriteString(ProjectSection("Inside"), "Versioning", "True");
    FIni.WriteString(ProjectSection("Inside"), "VersionFolder", FDir / "src/versions");
    TJobRecord record;
    record.FCbJobValid = true;
    record.FRbChange = true;
    record.FQuietSeconds = 0;
    record.FMinIntervalSeconds = 1; // a second run would start a second later
    record.FProjects = {"Inside"};
    WriteJob(FIni, "OnChange", record);

    std::atomic<bool> stop{false};
    TDaemonOptions options;
    options.FStopRequested = [&] { return stop.load(); };
    std::thread daemon([&] { RunJobDaemon(FIni.FileName(), options); });
    std::this_thread::sleep_for(700ms); // watching
    WriteTextFile(FDir / "src/a.txt", "new");
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
        std::this_thread::sleep_for(100ms);
        ended = FState.Read("OnChange").FLastEnd.has_value();
    }
    const std::optional<TDateTime> firstStart = FState.Read("OnChange").FLastStart;
    std::this_thread::sleep_for(3s);
    const std::optional<TDateTime> lastStart = FState.Read("OnChange").FLastStart;
    stop = true;
    daemon.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ReadTextFile(FDir / "src/backup/a.txt"), "new");
    EXPECT_FALSE(std::filesystem::is_empty(FDir / "src/versions")); // the old a.txt kept there
    EXPECT_EQ(lastStart, firstStart);
}

// The job runs once when all its folders exist after one did not (noticed at
// once, and still there after the settle time), and again only after a
// folder went and came back.
TEST_F(TriggerTest, ConnectTriggerRunsWhenTheFoldersAppear) {
    MakeFolder(FDir / "src");
    TConnectTrigger trigger({FDir / "src", FDir / "drive/backup"}, T0, 60s, 500ms);
    EXPECT_FALSE(trigger.AllPresent());
    EXPECT_FALSE(trigger.Poll(T0 + 1s));
    MakeFolder(FDir / "drive/backup");
    EXPECT_FALSE(trigger.Poll(T0 + 1100ms)); // seen, settling
    EXPECT_FALSE(trigger.Poll(T0 + 1599ms));
    EXPECT_TRUE(trigger.Poll(T0 + 1600ms));
    EXPECT_FALSE(trigger.Poll(T0 + 2s)); // once
    EXPECT_FALSE(trigger.Poll(T0 + 10s));

    // Gone and back, but gone again within the settle time: no run yet.
    std::filesystem::remove_all(FDir / "drive");
    EXPECT_FALSE(trigger.Poll(T0 + 11s));
    MakeFolder(FDir / "drive/backup");
    EXPECT_FALSE(trigger.Poll(T0 + 11100ms));
    std::filesystem::remove_all(FDir / "drive");
    EXPECT_FALSE(trigger.Poll(T0 + 11200ms));
    EXPECT_FALSE(trigger.Poll(T0 + 12s));
    MakeFolder(FDir / "drive/backup");
    EXPECT_FALSE(trigger.Poll(T0 + 13s));
    EXPECT_FALSE(trigger.Poll(T0 + 14s, false)); // during a run or a pause it waits
    EXPECT_TRUE(trigger.Poll(T0 + 14100ms));

    // Present from the start: nothing to run until a folder goes.
    TConnectTrigger present({FDir / "src", FDir / "drive/backup"}, T0, 1s, 0ms);
    EXPECT_FALSE(present.Poll(T0 + 5s));
    EXPECT_NE(present.MountFd(), -1); // the mount table is watched

    // A drive mounted over an existing, empty mount point comes; its unmount
    // does not. In a mount namespace of its own, where the system allows.
    MakeFolder(FDir / "usb");
    const pid_t child = StartChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return 77;
        }
        TConnectTrigger drive({FDir / "src", FDir / "usb"}, T0, 60s, 0ms);
        int failures = drive.Poll(T0 + 1s) ? 1 : 0;
        if (mount("none", (FDir / "usb").c_str(), "tmpfs", 0, nullptr) != 0) {
            return 77;
        }
        failures += drive.Poll(T0 + 2s) ? 0 : 10;
        umount((FDir / "usb").c_str());
        failures += drive.Poll(T0 + 3s) ? 100 : 0;
        return failures;
    });
    const int mounted = WaitChild(child);
    if (mounted != 77) {
        EXPECT_EQ(mounted, 0);
    }

    TJobRecord record;
    record.FCbJobValid = true;
    record.FRbConnect = true;
    WriteJob(FIni, "OnConnect", record);
    EXPECT_EQ(ReadJobKind(FIni, "OnConnect"), TJobKind::Connect);
}

// The daemon keeps a periodic job's armed time when something else in the
// configuration is saved: the period counts from the last run, not from the save.
TEST_F(TriggerTest, DaemonKeepsTheArmedTimeWhenSomethingElseIsSaved) {
    MakeFolder(FDir / "src");
    jobtest::StoreProject(FIni, "Site", FDir / "src", FDir / "dst");
    TJobRecord periodic;
    periodic.FCbJobValid = true;
    periodic.FEditMinute = 30;
    periodic.FTimeBegin = At(1, 0, 0);
    periodic.FTimeEnd = At(1, 23, 59);
    periodic.FProjects = {"Site"};
    WriteJob(FIni, "Half", periodic);

    std::atomic<std::int64_t> now{At(10, 10, 0).FMilliseconds};
    std::atomic<bool> stop{false};
    TDaemonOptions options;
    options.FStopRequested = [&] { return stop.load(); };
    options.FNow = [&] { return TDateTime{now.load()}; };
    std::thread daemon([&] { RunJobDaemon(FIni.FileName(), options); });
    std::this_thread::sleep_for(1s); // armed for 10:30
    now = At(10, 10, 20).FMilliseconds;
    FIni.WriteString("system", "project", "Site");
    std::this_thread::sleep_for(1500ms); // read again
    now = At(10, 10, 30).FMilliseconds;
    bool ran = false;
    for (int i = 0; i < 50 && !ran; ++i) {
        std::this_thread::sleep_for(100ms);
        ran = FState.Read("Half").FLastStart.has_value();
    }
    stop = true;
    daemon.join();
    EXPECT_TRUE(ran);
}

} // namespace
