#include "jobs/JobThread.h"

#include "JobTestSupport.h"
#include "engine/apply/Apply.h"
#include "engine/check/Check.h"
#include "engine/volume/CopyFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace {

using jobtest::Contains;
using jobtest::Lines;
using namespace std::chrono_literals;

// Progress of a runner, seen on the runner's thread. It can hold the runner
// at one apply item (before the item's file operation) until the test has
// acted, which makes pausing and stopping land at a known entry.
class TGateProgress : public TProgressSink {
public:
    TGateProgress(std::string prefix = "", int at = 0) : FPrefix(std::move(prefix)), FAt(at) {}

    void ShowItem(const std::string& prefix, const std::string& /*path*/) override {
        FThread = std::this_thread::get_id();
        if (prefix != FPrefix || ++FCount != FAt) {
            return;
        }
        std::unique_lock lock(FMutex);
        FReached = true;
        FChanged.notify_all();
        FChanged.wait(lock, [this] { return FReleased; });
    }

    bool WaitReached() {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, 20s, [this] { return FReached; });
    }
    void Release() {
        const std::lock_guard lock(FMutex);
        FReleased = true;
        FChanged.notify_all();
    }

    std::atomic<std::thread::id> FThread;

private:
    std::string FPrefix;
    int FAt;
    int FCount = 0;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FReached = false;
    bool FReleased = false;
};

const std::string NewPrefix = "新建: ";

std::size_t FilesIn(const std::string& folder) {
    std::error_code error;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

template <class TCondition> bool Eventually(TCondition condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class JobThreadTest : public ::testing::Test {
protected:
    JobThreadTest() : FIni(FDir / "pairwell.ini"), FRunLog(FDir / "log") {}

    // A project whose source holds count small files.
    void StoreFilledProject(const std::string& name, int count) {
        for (int i = 0; i < count; ++i) {
            WriteTextFile(FDir / (name + "/src/f" + std::to_string(1000 + i) + ".txt"), std::to_string(i));
        }
        jobtest::StoreProject(FIni, name, FDir / (name + "/src"), FDir / (name + "/dst"));
    }

    std::unique_ptr<TJobThread> MakeRunner(const std::string& job, std::shared_ptr<TProgressSink> progress) {
        return std::make_unique<TJobThread>(FIni, FRunLog, job, std::move(progress), [this] {
            FTerminatedOn = std::this_thread::get_id();
            ++FTerminations;
        });
    }

    TTempDir FDir;
    TIniFile FIni;
    TRunLog FRunLog;
    std::atomic<int> FTerminations{0};
    std::atomic<std::thread::id> FTerminatedOn;
};

TEST_F(JobThreadTest, RunsEveryProjectOnItsThreadAndReportsTheEndOnce) {
    StoreFilledProject("P2", 3);
    jobtest::StoreProject(FIni, "P1", FDir / "missing", FDir / "P1/dst");
    jobtest::StoreJob(FIni, "J", {"P1", "P2"});
    auto progress = std::make_shared<TGateProgress>();
    auto runner = MakeRunner("J", progress);
    EXPECT_TRUE(PathExists(FRunLog.DayLogFileName())); // opened by the constructor
    runner->Start();
    runner->Wait();

    EXPECT_TRUE(runner->Finished());
    EXPECT_EQ(FTerminations, 1);
    EXPECT_NE(FTerminatedOn.load(), std::this_thread::get_id());
    EXPECT_EQ(progress->FThread.load(), FTerminatedOn.load());
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(jobtest::Masked(items[0]),
              (Lines{"<Project>P1</Project>", "<ProcessStatus>中止</ProcessStatus>",
                     "<Error>源文件夹无效</Error>", "<BeginTime>hh:mm:ss</BeginTime>",
                     "<EndTime>hh:mm:ss</EndTime>", "<SpendTime>hh:mm:ss</SpendTime>"}));
    EXPECT_EQ(items[1][0], "<ProcessType>同步</ProcessType>");
    EXPECT_TRUE(Contains(items[1], "<NewCount>3</NewCount>"));
    EXPECT_TRUE(Contains(items[1], "<Project>P2</Project>"));
    EXPECT_TRUE(Contains(items[1], "<ProcessStatus>完成</ProcessStatus>"));
    EXPECT_EQ(FilesIn(FDir / "P2/dst"), 3u);
    ASSERT_EQ(runner->Results().size(), 2u);
    EXPECT_TRUE(runner->FailureText().empty());
}

TEST_F(JobThreadTest, ADayLogThatCannotBeOpenedFailsTheConstructionAndNothingRuns) {
    WriteTextFile(FDir / "log", "a file where the log folder belongs");
    StoreFilledProject("P", 1);
    jobtest::StoreJob(FIni, "J", {"P"});
    EXPECT_ANY_THROW(MakeRunner("J", nullptr));
    EXPECT_EQ(FTerminations, 0);
    EXPECT_FALSE(PathExists(FDir / "P/dst"));
}

TEST_F(JobThreadTest, APausedRunnerMakesNoProgressUntilResumed) {
    FIni.WriteString("system", "ParallelCopies", "1"); // the gate holds the one copy under way
    StoreFilledProject("P", 60);
    jobtest::StoreJob(FIni, "J", {"P"});
    auto progress = std::make_shared<TGateProgress>(NewPrefix, 20);
    auto runner = MakeRunner("J", progress);
    runner->Start();
    ASSERT_TRUE(progress->WaitReached());
    runner->Pause();
    progress->Release();
    // Item 20 was under way, so it completes; the runner holds before item 21.
    ASSERT_TRUE(Eventually([&] { return runner->Suspended(); }));
    EXPECT_EQ(FilesIn(FDir / "P/dst"), 20u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(FilesIn(FDir / "P/dst"), 20u);
    EXPECT_FALSE(runner->Finished());
    EXPECT_TRUE(jobtest::DayItems(FRunLog).empty());

    runner->Resume();
    runner->Wait();
    EXPECT_EQ(FilesIn(FDir / "P/dst"), 60u);
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(Contains(items[0], "<ProcessStatus>完成</ProcessStatus>"));
    EXPECT_EQ(FTerminations, 1);
}

// Calls a function once, on the runner's thread, as the given apply item starts.
class TActAtProgress : public TProgressSink {
public:
    TActAtProgress(std::string prefix, int at) : FPrefix(std::move(prefix)), FAt(at) {}
    void ShowItem(const std::string& prefix, const std::string& /*path*/) override {
        if (prefix == FPrefix && ++FCount == FAt && FAct) {
            FAct();
        }
    }
    std::function<void()> FAct;

private:
    std::string FPrefix;
    int FAt;
    int FCount = 0;
};

TEST_F(JobThreadTest, APauseHoldsEveryParallelCopyAtItsNextFile) {
    FIni.WriteString("system", "ParallelCopies", "4");
    StoreFilledProject("P", 300);
    jobtest::StoreJob(FIni, "J", {"P"});
    auto progress = std::make_shared<TActAtProgress>(NewPrefix, 40);
    auto runner = MakeRunner("J", progress);
    progress->FAct = [&runner] { runner->Pause(); };
    runner->Start();
    ASSERT_TRUE(Eventually([&] { return runner->Suspended(); }));
    // Held: no copy is under way, none starts.
    const std::string target = FDir / "P/dst";
    const std::size_t held = FilesIn(target);
    for (const auto& entry : std::filesystem::directory_iterator(target)) {
        EXPECT_FALSE(IsCopyTemporaryName(entry.path().filename().string())) << entry.path();
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(FilesIn(target), held);
    EXPECT_LT(held, 300u);
    EXPECT_TRUE(jobtest::DayItems(FRunLog).empty());

    runner->Resume();
    runner->Wait();
    EXPECT_EQ(FilesIn(target), 300u);
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(Contains(items[0], "<ProcessStatus>完成</ProcessStatus>"));
    EXPECT_TRUE(Contains(items[0], "<NewCount>300</NewCount>"));
}

// Closing the program with a paused row asks its runner to stop: it must end
// without being resumed, or the close would wait for ever.
TEST_F(JobThreadTest, APausedRunnerAskedToStopEndsWithoutBeingResumed) {
    FIni.WriteString("system", "ParallelCopies", "1"); // the gate holds the one copy under way
    StoreFilledProject("P", 30);
    jobtest::StoreJob(FIni, "J", {"P", "P"});
    auto progress = std::make_shared<TGateProgress>(NewPrefix, 10);
    auto runner = MakeRunner("J", progress);
    runner->Start();
    ASSERT_TRUE(progress->WaitReached());
    runner->Pause();
    progress->Release();
    ASSERT_TRUE(Eventually([&] { return runner->Suspended(); }));
    runner->RequestStop();
    ASSERT_TRUE(Eventually([&] { return runner->Finished(); })) << "the paused runner did not end";
    EXPECT_TRUE(runner->Paused()); // nobody resumed it
    runner->Wait();
    EXPECT_EQ(FilesIn(FDir / "P/dst"), 10u);
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(Contains(items[0], "<ProcessStatus>中止</ProcessStatus>"));
}

TEST_F(JobThreadTest, PausedBeforeTheFirstProjectNothingStartsUntilResumed) {
    StoreFilledProject("P", 2);
    jobtest::StoreJob(FIni, "J", {"P"});
    auto runner = MakeRunner("J", nullptr);
    runner->Pause();
    runner->Start();
    ASSERT_TRUE(Eventually([&] { return runner->Suspended(); }));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(PathExists(FDir / "P/dst"));
    runner->Resume();
    runner->Wait();
    EXPECT_EQ(FilesIn(FDir / "P/dst"), 2u);
}

TEST_F(JobThreadTest, AStopEndsTheCurrentProjectStoppedAndRunsNoOther) {
    FIni.WriteString("system", "ParallelCopies", "1"); // the gate holds the one copy under way
    StoreFilledProject("P1", 40);
    StoreFilledProject("P2", 5);
    jobtest::StoreJob(FIni, "J", {"P1", "P2"});
    auto progress = std::make_shared<TGateProgress>(NewPrefix, 10);
    auto runner = MakeRunner("J", progress);
    runner->Start();
    ASSERT_TRUE(progress->WaitReached());
    runner->RequestStop();
    progress->Release();
    runner->Wait();

    EXPECT_EQ(FilesIn(FDir / "P1/dst"), 10u);
    EXPECT_FALSE(PathExists(FDir / "P2/dst"));
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(Contains(items[0], "<Project>P1</Project>"));
    EXPECT_TRUE(Contains(items[0], "<ProcessStatus>中止</ProcessStatus>"));
    EXPECT_TRUE(Contains(items[0], "<NewCount>10</NewCount>"));
    EXPECT_FALSE(Contains(items[0], "<UpdateCount>0</UpdateCount>")); // later phases did not run
    EXPECT_EQ(FTerminations, 1);
}

TEST_F(JobThreadTest, AStopDuringTheCheckLogsTheProjectStopped) {
    StoreFilledProject("P", 30);
    jobtest::StoreJob(FIni, "J", {"P", "P"});
    auto progress = std::make_shared<TGateProgress>(CheckItemPrefix, 5);
    auto runner = MakeRunner("J", progress);
    runner->Start();
    ASSERT_TRUE(progress->WaitReached());
    runner->RequestStop();
    progress->Release();
    runner->Wait();
    EXPECT_FALSE(PathExists(FDir / "P/dst"));
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(jobtest::Masked(items[0]),
              (Lines{"<ProcessType>同步</ProcessType>", "<Project>P</Project>",
                     "<ProcessStatus>中止</ProcessStatus>", "<BeginTime>hh:mm:ss</BeginTime>",
                     "<EndTime>hh:mm:ss</EndTime>", "<SpendTime>hh:mm:ss</SpendTime>"}));
}

// The row goes (job deleted, saved as disabled, program closing) while its
// runner is paused mid-project: the keeper stops it and joins it; nothing of
// the row is needed any more.
TEST_F(JobThreadTest, ARunnerHandedToTheKeeperStopsAndIsJoined) {
    FIni.WriteString("system", "ParallelCopies", "1"); // the gate holds the one copy under way
    StoreFilledProject("P1", 40);
    StoreFilledProject("P2", 5);
    jobtest::StoreJob(FIni, "J", {"P1", "P2"});
    auto progress = std::make_shared<TGateProgress>(NewPrefix, 10);
    std::weak_ptr<TGateProgress> kept = progress;
    TJobThreadKeeper keeper;
    {
        auto runner = MakeRunner("J", progress);
        runner->Start();
        ASSERT_TRUE(progress->WaitReached());
        runner->Pause();
        progress->Release();
        ASSERT_TRUE(Eventually([&] { return runner->Suspended(); }));
        progress.reset(); // the row and its share of the sink are gone
        keeper.Keep(std::move(runner));
    }
    EXPECT_EQ(keeper.Count(), 1u);
    keeper.JoinAll();
    EXPECT_EQ(keeper.Count(), 0u);
    EXPECT_TRUE(kept.expired());
    EXPECT_EQ(FTerminations, 1);
    EXPECT_EQ(FilesIn(FDir / "P1/dst"), 10u);
    EXPECT_FALSE(PathExists(FDir / "P2/dst"));
    const std::vector<Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(Contains(items[0], "<ProcessStatus>中止</ProcessStatus>"));
}

TEST_F(JobThreadTest, TheKeeperLetsGoOfRunnersThatHaveEnded) {
    jobtest::StoreJob(FIni, "Empty", {});
    TJobThreadKeeper keeper;
    auto first = MakeRunner("Empty", nullptr);
    first->Start();
    ASSERT_TRUE(Eventually([&] { return first->Finished(); }));
    keeper.Keep(std::move(first));
    keeper.Keep(MakeRunner("Empty", nullptr)); // never started: nothing to join
    EXPECT_EQ(keeper.Count(), 1u);
}

// Two runners and an interactive synchronisation close their items into the
// same day file at the same time; every item arrives.
TEST_F(JobThreadTest, ConcurrentRunsAndAnInteractiveSyncLoseNoItem) {
    constexpr int ProjectsPerRun = 6;
    Lines jobA, jobB;
    for (int i = 0; i < ProjectsPerRun; ++i) {
        StoreFilledProject("A" + std::to_string(i), 3);
        StoreFilledProject("B" + std::to_string(i), 3);
        jobA.push_back("A" + std::to_string(i));
        jobB.push_back("B" + std::to_string(i));
    }
    jobtest::StoreJob(FIni, "JA", jobA);
    jobtest::StoreJob(FIni, "JB", jobB);
    for (int i = 0; i < ProjectsPerRun; ++i) {
        for (int f = 0; f < 3; ++f) {
            WriteTextFile(FDir / ("I" + std::to_string(i) + "/src/f" + std::to_string(f)), "i");
        }
    }

    auto runnerA = MakeRunner("JA", nullptr);
    auto runnerB = MakeRunner("JB", nullptr);
    std::thread interactive([&] {
        for (int i = 0; i < ProjectsPerRun; ++i) {
            const std::string root = FDir / ("I" + std::to_string(i));
            TCheckSettings settings;
            settings.FSourceRoot = root + "/src/";
            settings.FTargetRoot = root + "/dst/";
            TPlan plan;
            RunCheck(settings, plan, SilentProgress());
            TApplyOptions options;
            options.FSourceRoot = settings.FSourceRoot;
            options.FTargetRoot = options.FWriteRoot = settings.FTargetRoot;
            TLogBuffer log;
            log.WriteLogElement("ProcessType", "同步");
            ApplyPhase(TApplyPhase::New, plan.FNewList, options, log, SilentProgress());
            log.WriteLogElement("Project", "I" + std::to_string(i));
            FRunLog.CloseLogItem(log);
        }
    });
    runnerA->Start();
    runnerB->Start();
    interactive.join();
    runnerA->Wait();
    runnerB->Wait();

    std::multiset<std::string> projects;
    for (const Lines& item : jobtest::DayItems(FRunLog)) {
        for (const std::string& line : item) {
            if (line.rfind("<Project>", 0) == 0) {
                projects.insert(line);
            }
        }
        EXPECT_TRUE(Contains(item, "<NewCount>3</NewCount>"));
    }
    std::multiset<std::string> expected;
    for (const std::string prefix : {"A", "B", "I"}) {
        for (int i = 0; i < ProjectsPerRun; ++i) {
            expected.insert("<Project>" + prefix + std::to_string(i) + "</Project>");
        }
    }
    EXPECT_EQ(projects, expected);
    EXPECT_EQ(FTerminations, 2);
}

} // namespace
