#include "jobs/JobProcessor.h"

#include "JobTestSupport.h"
#include "engine/volume/CopyFile.h"

#include <filesystem>

namespace {

using jobtest::Lines;

class JobProcessorTest : public ::testing::Test {
protected:
    JobProcessorTest() : FIni(FDir / "pairwell.ini"), FRunLog(FDir / "log") {}

    void StoreProject(const std::string& name, const std::string& source, const std::string& target) {
        jobtest::StoreProject(FIni, name, source, target);
    }
    void StoreJob(const std::string& name, const Lines& projects) { jobtest::StoreJob(FIni, name, projects); }
    std::vector<Lines> Items() { return jobtest::DayItems(FRunLog); }
    static Lines Masked(Lines lines) { return jobtest::Masked(std::move(lines)); }

    TTempDir FDir;
    TIniFile FIni;
    TRunLog FRunLog;
};

TEST_F(JobProcessorTest, OneProjectGivesTheItemOfTheRunner) {
    WriteTextFile(FDir / "src/a.txt", "a");
    MakeFolder(FDir / "dst");
    StoreProject("Site", FDir / "src", FDir / "dst");
    StoreJob("Nightly", {"Site"});
    TJobProcessor processor(FIni, FRunLog, "Nightly");
    processor.Execute();
    const std::vector<Lines> items = Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(Masked(items[0]), (Lines{
                                    "<ProcessType>同步</ProcessType>",
                                    "<SourcePath>" + FDir / "src/</SourcePath>",
                                    "<TargetPath>" + FDir / "dst/</TargetPath>",
                                    "<New>" + FDir / "dst/a.txt</New>",
                                    "<NewCount>1</NewCount>",
                                    "<NewFailCount>0</NewFailCount>",
                                    "<UpdateCount>0</UpdateCount>",
                                    "<UpdateFailCount>0</UpdateFailCount>",
                                    "<DeleteCount>0</DeleteCount>",
                                    "<DeleteFailCount>0</DeleteFailCount>",
                                    "<Project>Site</Project>",
                                    "<ProcessStatus>完成</ProcessStatus>",
                                    "<BeginTime>hh:mm:ss</BeginTime>",
                                    "<EndTime>hh:mm:ss</EndTime>",
                                    "<SpendTime>hh:mm:ss</SpendTime>",
                                }));
    EXPECT_EQ(ReadTextFile(FDir / "dst/a.txt"), "a");
}

TEST_F(JobProcessorTest, ARejectedProjectIsLoggedAndTheNextOneStillRuns) {
    WriteTextFile(FDir / "src/a.txt", "a");
    StoreProject("Broken", FDir / "missing", FDir / "dst");
    StoreProject("Good", FDir / "src", FDir / "dst");
    StoreJob("Both", {"Broken", "Good", "NoSuchProject"});
    TJobProcessor processor(FIni, FRunLog, "Both");
    processor.Execute();
    const std::vector<Lines> items = Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(Masked(items[0]), (Lines{"<Project>Broken</Project>", "<ProcessStatus>中止</ProcessStatus>",
                                       "<Error>源文件夹无效</Error>", "<BeginTime>hh:mm:ss</BeginTime>",
                                       "<EndTime>hh:mm:ss</EndTime>", "<SpendTime>hh:mm:ss</SpendTime>"}));
    EXPECT_EQ(items[1][0], "<ProcessType>同步</ProcessType>");
    EXPECT_EQ(items[2][1], "<ProcessStatus>中止</ProcessStatus>");
    EXPECT_EQ(items[2][2], "<Error>源文件夹无效</Error>");
    EXPECT_TRUE(processor.Results()[1].FCompleted);
}

TEST_F(JobProcessorTest, ABlankSourceIsRejectedInsteadOfMeaningTheRootFolder) {
    StoreProject("Blank", "  ", FDir / "dst");
    TJobProcessor processor(FIni, FRunLog, "");
    const TProjectRunResult result = processor.RunProject("Blank");
    EXPECT_FALSE(result.FCompleted);
    EXPECT_EQ(result.FErrorText, "源文件夹无效");
}

TEST_F(JobProcessorTest, ABlankTargetIsRejected) {
    MakeFolder(FDir / "src");
    StoreProject("NoTarget", FDir / "src", " ");
    TJobProcessor processor(FIni, FRunLog, "");
    EXPECT_EQ(processor.RunProject("NoTarget").FErrorText, "目标文件夹无效");
}

TEST_F(JobProcessorTest, AnUnconvertibleTimeModeStopsTheProjectWithoutAnError) {
    WriteTextFile(FDir / "src/a.txt", "a");
    StoreProject("Odd", FDir / "src", FDir / "dst");
    FIni.WriteString(ProjectSection("Odd"), "EditTime", "abc");
    TJobProcessor processor(FIni, FRunLog, "");
    const TProjectRunResult result = processor.RunProject("Odd");
    EXPECT_FALSE(result.FCompleted);
    EXPECT_TRUE(result.FErrorText.empty());
    EXPECT_EQ(Items()[0][0], "<Project>Odd</Project>");
    EXPECT_FALSE(PathExists(FDir / "dst/a.txt"));
}

TEST_F(JobProcessorTest, DeployModeNeedsADeployFolderAndNeverDeletes) {
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "dst/surplus.txt", "s");
    StoreProject("Pub", FDir / "src", FDir / "dst");
    FIni.WriteString(ProjectSection("Pub"), "UpdateToOther", "True");
    FIni.WriteString(ProjectSection("Pub"), "FileDelete", "True");
    TJobProcessor processor(FIni, FRunLog, "");
    EXPECT_EQ(processor.RunProject("Pub").FErrorText, "指定的发布目录无效");

    FIni.WriteString(ProjectSection("Pub"), "deploy", FDir / "pub");
    EXPECT_TRUE(processor.RunProject("Pub").FCompleted);
    EXPECT_EQ(ReadTextFile(FDir / "pub/a.txt"), "a");
    EXPECT_TRUE(PathExists(FDir / "dst/surplus.txt"));
    const std::vector<Lines> items = Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0][0], "<ProcessType>发布</ProcessType>");
    EXPECT_EQ(items[1][2], "<TargetPath>" + FDir / "pub/</TargetPath>");
    EXPECT_NE(std::find(items[1].begin(), items[1].end(), "<DeleteCount>0</DeleteCount>"), items[1].end());
}

TEST_F(JobProcessorTest, DeletionRemovesSurplusTargetEntries) {
    WriteTextFile(FDir / "src/keep.txt", "k");
    WriteTextFile(FDir / "dst/keep.txt", "k");
    SetModifiedTime(FDir / "src/keep.txt", 1'000'000'000);
    SetModifiedTime(FDir / "dst/keep.txt", 1'000'000'000);
    WriteTextFile(FDir / "dst/old/gone.txt", "g");
    StoreProject("Mirror", FDir / "src", FDir / "dst");
    FIni.WriteString(ProjectSection("Mirror"), "FileDelete", "True");
    FIni.WriteString(ProjectSection("Mirror"), "cbIncludeBlankFolder", "True");
    TJobProcessor processor(FIni, FRunLog, "");
    const TProjectRunResult result = processor.RunProject("Mirror");
    EXPECT_EQ(result.FDeleteDone, 2);
    EXPECT_FALSE(PathExists(FDir / "dst/old"));
    EXPECT_TRUE(PathExists(FDir / "dst/keep.txt"));
}

TEST_F(JobProcessorTest, AnEmptyJobWritesNoItemButOpensTheDay) {
    StoreJob("Empty", {});
    TJobProcessor processor(FIni, FRunLog, "Empty");
    processor.Execute();
    EXPECT_TRUE(PathExists(FRunLog.DayLogFileName()));
    EXPECT_TRUE(Items().empty());
}

TEST_F(JobProcessorTest, AProjectListedTwiceRunsTwice) {
    MakeFolder(FDir / "src");
    StoreProject("P", FDir / "src", FDir / "dst");
    StoreJob("Twice", {"P", "P"});
    TJobProcessor processor(FIni, FRunLog, "Twice");
    processor.Execute();
    EXPECT_EQ(Items().size(), 2u);
}

// A daylight-saving change (here the wall clock going back an hour) must not
// make a short run last 23 hours.
TEST_F(JobProcessorTest, SpendTimeIgnoresTheWallClockGoingBack) {
    MakeFolder(FDir / "src");
    StoreProject("P", FDir / "src", FDir / "dst");
    int reads = 0;
    const auto wallClock = [&reads] { return EncodeDateTime({2026, 10, 25, reads++ == 0 ? 3 : 2, 0, 0, 0}); };
    TJobProcessor processor(FIni, FRunLog, "", SilentProgress(), {}, wallClock);
    processor.RunProject("P");
    const Lines item = Items().at(0);
    EXPECT_TRUE(jobtest::Contains(item, "<BeginTime>03:00:00</BeginTime>"));
    EXPECT_TRUE(jobtest::Contains(item, "<EndTime>02:00:00</EndTime>"));
    EXPECT_TRUE(jobtest::Contains(item, "<SpendTime>00:00:00</SpendTime>"));
}

// A run of 3 minutes 5.9 seconds: whole seconds, cut, not rounded.
TEST_F(JobProcessorTest, SpendTimeCountsTheWholeSecondsOfTheRun) {
    MakeFolder(FDir / "src");
    StoreProject("P", FDir / "src", FDir / "dst");
    const auto start = std::chrono::steady_clock::time_point{} + std::chrono::hours(5);
    int reads = 0;
    const auto steadyClock = [&] {
        return reads++ == 0 ? start : start + std::chrono::milliseconds(185'900);
    };
    TJobProcessor processor(FIni, FRunLog, "", SilentProgress(), {}, Now, steadyClock);
    processor.RunProject("P");
    EXPECT_TRUE(jobtest::Contains(Items().at(0), "<SpendTime>00:03:05</SpendTime>"));
}

// The pause point is where a paused runner waits, so it must never be reached
// while a copy has its temporary file open.
TEST_F(JobProcessorTest, ThePausePointIsNeverReachedInsideACopy) {
    WriteTextFile(FDir / "src/big.bin", std::string(SingleCallCopyLimit + 3 * CopyBlockSize, 'b'));
    WriteTextFile(FDir / "src/small.txt", "s");
    StoreProject("P", FDir / "src", FDir / "dst");
    FIni.WriteString("system", "ParallelCopies", "1"); // the copy's block tests then come through here
    int pausePoints = 0, stopTests = 0, pausedInsideACopy = 0;
    TRunControl control;
    control.FPausePoint = [&] {
        ++pausePoints;
        if (std::filesystem::exists(FDir / "dst")) {
            for (const auto& entry : std::filesystem::directory_iterator(FDir / "dst")) {
                pausedInsideACopy += entry.path().filename().string().front() == '.';
            }
        }
    };
    control.FStopRequested = [&] { return ++stopTests < 0; };
    TJobProcessor processor(FIni, FRunLog, "", SilentProgress(), control);
    EXPECT_TRUE(processor.RunProject("P").FCompleted);
    EXPECT_EQ(pausedInsideACopy, 0);
    EXPECT_GT(pausePoints, 2);
    EXPECT_GT(stopTests, pausePoints); // the copy's block tests did not pause
}

TEST(JobRecord, ListsJobsByPrefixAndProjectsInKeyOrder) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    ini.WriteString("job_", "CbJobValid", "True");
    ini.WriteString("job_A", "CbJobValid", "True");
    ini.WriteString("job-project_A", "1", "Second");
    ini.WriteString("job-project_A", "0", "First");
    ini.WriteString("Job_B", "CbJobValid", "True");
    Lines jobs;
    ListJobs(ini, jobs);
    EXPECT_EQ(jobs, Lines{"A"});
    EXPECT_EQ(ReadJobProjects(ini, "A"), (Lines{"Second", "First"}));
    EXPECT_TRUE(JobExists(ini, "a"));
    EXPECT_FALSE(JobExists(ini, "B"));
}

} // namespace
