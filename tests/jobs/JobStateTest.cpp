#include "jobs/JobState.h"

#include "JobTestSupport.h"
#include "jobs/JobProcessor.h"
#include "jobs/SchedulerLock.h"

#include <thread>
#include <unistd.h>

namespace {

TDateTime At(int day, int hour, int minute) {
    return EncodeDateTime({2026, 3, day, hour, minute, 0, 0});
}

// Each run records its start and its end beside the configuration; the clean
// end stays when a later run fails; writers on several threads lose nothing.
TEST(JobStateTest, RunsRecordStartsAndCleanEndsBesideTheConfiguration) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    TRunLog runLog(dir / "log");
    WriteTextFile(dir / "src/a.txt", "a");
    MakeFolder(dir / "dst");
    jobtest::StoreProject(ini, "Site", dir / "src", dir / "dst");
    jobtest::StoreProject(ini, "Broken", dir / "missing", dir / "dst");
    jobtest::StoreJob(ini, "Nightly", {"Site"});
    jobtest::StoreJob(ini, "Failing", {"Broken"});
    EXPECT_EQ(JobStateFileName(dir / "pairwell.ini"), dir / "pairwell.state");
    EXPECT_EQ(JobStateFileName("/a.b/config"), "/a.b/config.state");

    const TJobState state(ini.FileName());
    EXPECT_FALSE(state.Read("Nightly").FLastStart); // never ran

    int tick = 0;
    const auto clock = [&] { return At(10, 2, tick++); };
    TJobProcessor(ini, runLog, "Nightly", SilentProgress(), {}, clock).Execute();
    TJobRunState nightly = state.Read("Nightly");
    EXPECT_EQ(nightly.FFirstStart, At(10, 2, 0));
    EXPECT_EQ(nightly.FLastStart, At(10, 2, 0));
    ASSERT_TRUE(nightly.FLastEnd);
    EXPECT_GT(*nightly.FLastEnd, At(10, 2, 0));
    EXPECT_TRUE(nightly.FLastEndClean);
    EXPECT_EQ(nightly.FLastCleanEnd, nightly.FLastEnd);
    const TDateTime cleanEnd = *nightly.FLastEnd;

    // The same job failing later keeps its last clean end.
    ini.WriteString(ProjectSection("Site"), "source", dir / "gone");
    TJobProcessor(ini, runLog, "Nightly", SilentProgress(), {}, clock).Execute();
    nightly = state.Read("Nightly");
    EXPECT_EQ(nightly.FFirstStart, At(10, 2, 0));
    EXPECT_GT(*nightly.FLastStart, cleanEnd);
    EXPECT_FALSE(nightly.FLastEndClean);
    EXPECT_EQ(nightly.FLastCleanEnd, cleanEnd);

    TJobProcessor(ini, runLog, "Failing", SilentProgress(), {}, clock).Execute();
    EXPECT_FALSE(state.Read("Failing").FLastCleanEnd);
    EXPECT_TRUE(state.Read("Failing").FLastStart);

    // The job named in another letter case, as the configuration allows, is the same job.
    TJobProcessor(ini, runLog, "NIGHTLY", SilentProgress(), {}, clock).Execute();
    EXPECT_EQ(state.Read("nightly").FLastStart, state.Read("Nightly").FLastStart);
    EXPECT_GT(*state.Read("Nightly").FLastStart, *nightly.FLastStart);

    // Writers at the same time: every job keeps what it wrote last.
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 20; ++i) {
                state.RecordStart("w" + std::to_string(w), At(11, w, i));
                state.RecordEnd("w" + std::to_string(w), At(11, w, i + 1), true);
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    for (int w = 0; w < 4; ++w) {
        EXPECT_EQ(state.Read("w" + std::to_string(w)).FLastStart, At(11, w, 19));
        EXPECT_EQ(state.Read("w" + std::to_string(w)).FLastCleanEnd, At(11, w, 20));
    }
    EXPECT_EQ(state.Read("Nightly").FLastCleanEnd, cleanEnd);
}

// One holder at a time; the lock tells who holds it and goes with its holder.
TEST(JobStateTest, OneSchedulerHoldsTheConfiguration) {
    TTempDir dir;
    const std::string config = dir / "pairwell.ini";
    EXPECT_FALSE(SchedulerLockHeld(config));
    EXPECT_FALSE(SchedulerLockHolder(config));
    {
        TSchedulerLock first(config, "Pairwell window");
        ASSERT_TRUE(first.Held());
        EXPECT_EQ(first.FileName(), dir / "pairwell.scheduler");
        EXPECT_TRUE(SchedulerLockHeld(config));
        EXPECT_EQ(SchedulerLockHolder(config), "Pairwell window, process " + std::to_string(getpid()));
        TSchedulerLock second(config, "pairwell-cli daemon");
        EXPECT_EQ(second.Result(), TSchedulerLock::HeldElsewhere);
        EXPECT_EQ(second.TryTake(), TSchedulerLock::HeldElsewhere);
    }
    EXPECT_FALSE(SchedulerLockHeld(config));
    TSchedulerLock later(config, "pairwell-cli daemon");
    EXPECT_TRUE(later.Held());

    TSchedulerLock nowhere(dir / "no/such/folder/pairwell.ini", "x");
    EXPECT_EQ(nowhere.Result(), TSchedulerLock::Failed);
    EXPECT_NE(nowhere.ErrorText().find("No such file"), std::string::npos);
}

} // namespace
