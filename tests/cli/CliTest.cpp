// Runs the real pairwell-cli program as cron or a script would.

#include "CliProgram.h"
#include "TempDir.h"
#include "config/Gb18030.h"
#include "config/IniFile.h"
#include "config/PathText.h"

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using TRun = TCliResult;

class CliTest : public ::testing::Test {
protected:
    CliTest() : FIni(FConfig) {}

    TRun Run(std::vector<std::string> args, bool withConfig = true) {
        if (withConfig) {
            args.insert(args.begin(), {"--config", FConfig});
        }
        return RunCliTo(FDir / "stdout", FDir / "stderr", std::move(args));
    }

    void StoreProject(const std::string& name) {
        FIni.WriteString("project_" + name, "source", FDir / "src");
        FIni.WriteString("project_" + name, "target", FDir / "dst");
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    TIniFile FIni;
};

TEST_F(CliTest, UsageMistakesExitWith64AndHelpWith0) {
    EXPECT_EQ(Run({}).FStatus, 64);
    EXPECT_EQ(Run({"frobnicate"}).FStatus, 64);
    EXPECT_EQ(Run({"check"}).FStatus, 64);
    EXPECT_EQ(Run({"projects", "extra"}).FStatus, 64);
    EXPECT_EQ(Run({"--config"}, false).FStatus, 64);
    const TRun bad = Run({"sync"});
    EXPECT_NE(bad.FErr.find("Usage: pairwell-cli"), std::string::npos);
    EXPECT_TRUE(bad.FOut.empty());
    const TRun help = Run({"--help"}, false);
    EXPECT_EQ(help.FStatus, 0);
    EXPECT_NE(help.FOut.find("Usage: pairwell-cli"), std::string::npos);
}

TEST_F(CliTest, ListsProjectsAndJobsInStoreOrder) {
    StoreProject("二号");
    StoreProject("one");
    FIni.WriteString("job_nightly", "CbJobValid", "True");
    EXPECT_EQ(Run({"projects"}).FOut, "二号\none\n");
    EXPECT_EQ(Run({"jobs"}).FOut, "nightly\n");
}

TEST_F(CliTest, CheckPrintsThePlanAndChangesNothing) {
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "src/b.txt", "new b");
    WriteTextFile(FDir / "dst/b.txt", "old b");
    WriteTextFile(FDir / "dst/c.txt", "c");
    SetModifiedTime(FDir / "src/b.txt", 1'000'000'100);
    SetModifiedTime(FDir / "dst/b.txt", 1'000'000'000);
    StoreProject("P");
    FIni.WriteString("project_P", "FileDelete", "True");
    const TRun run = Run({"check", "P"});
    EXPECT_EQ(run.FStatus, 0);
    EXPECT_EQ(run.FOut, "new\ta.txt\nupdate\tb.txt\ndelete\tc.txt\n");
    EXPECT_FALSE(PathExists(FDir / "dst/a.txt"));
    EXPECT_FALSE(PathExists(FDir / "log"));
}

TEST_F(CliTest, CheckMovesPrintsTheMovesAfterThePlanAndSyncCountsThem) {
    WriteTextFile(FDir / "src/2024/a.jpg", "a");
    WriteTextFile(FDir / "src/2024/b.jpg", "b");
    StoreProject("P");
    FIni.WriteString("project_P", "FileDelete", "True");
    ASSERT_EQ(Run({"sync", "P"}).FStatus, 0);
    ASSERT_EQ(rename((FDir / "src/2024").c_str(), (FDir / "src/2024 旅行").c_str()), 0);

    const std::string plan =
        "new\t2024 旅行/a.jpg\nnew\t2024 旅行/b.jpg\ndelete\t2024/a.jpg\ndelete\t2024/b.jpg\n";
    EXPECT_EQ(Run({"check", "P"}).FOut, plan);
    EXPECT_EQ(Run({"check", "--moves", "P"}).FOut, plan + "move\t2024/\t2024 旅行/\n");
    EXPECT_EQ(Run({"sync", "--moves", "P"}).FStatus, 64);
    const TRun sync = Run({"sync", "P", "--json"});
    EXPECT_EQ(sync.FStatus, 0);
    EXPECT_NE(sync.FOut.find("\"delete\":{\"done\":2,\"failed\":0},\"moved\":1}"), std::string::npos)
        << sync.FOut;
    EXPECT_EQ(ReadTextFile(FDir / "dst/2024 旅行/b.jpg"), "b");
}

TEST_F(CliTest, RejectionsNameWhatAndWhereAndExitWith2) {
    const auto expectError = [&](const std::vector<std::string>& args, const std::string& message) {
        const TRun run = Run(args, false);
        EXPECT_EQ(run.FStatus, 2);
        EXPECT_EQ(run.FErr, message + "\n");
    };
    // The configuration file itself: missing, a folder, a device.
    expectError({"--config", FConfig, "projects"},
                "pairwell-cli: configuration file " + FConfig + ": does not exist");
    expectError({"--config", FDir.Path(), "check", "P"},
                "pairwell-cli: configuration file " + FDir.Path() + ": is a folder");
    expectError({"--config", "/dev/null", "sync", "P"},
                "pairwell-cli: configuration file /dev/null: not a regular file");
    EXPECT_FALSE(PathExists("/dev/log/list.xml"));

    // The project and its folders.
    FIni.WriteString("system", "project", "");
    expectError({"--config", FConfig, "check", "missing"},
                "源文件夹无效: no project \"missing\" in " + FConfig);
    StoreProject("P");
    expectError({"--config", FConfig, "check", "P"}, "源文件夹无效: " + FDir / "src: does not exist");
    WriteTextFile(FDir / "src", "a file");
    const TRun sync = Run({"sync", "P"});
    EXPECT_EQ(sync.FStatus, 2);
    EXPECT_NE(sync.FErr.find("P: 源文件夹无效: " + FDir / "src: not a folder\n"), std::string::npos)
        << sync.FErr;
}

TEST_F(CliTest, CheckWithNulEndsEveryPlanLineWithNul) {
    WriteTextFile(FDir / "src/two\nlines.txt", "a");
    StoreProject("P");
    const TRun run = Run({"check", "-0", "P"});
    EXPECT_EQ(run.FStatus, 0);
    EXPECT_EQ(run.FOut, std::string("new\ttwo\nlines.txt") + '\0');
    EXPECT_EQ(Run({"--null", "check", "P"}).FOut, run.FOut);
    EXPECT_EQ(Run({"sync", "-0", "P"}).FStatus, 64);
}

TEST_F(CliTest, EveryFailedItemGivesItsPathAndReasonOnStandardError) {
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "src/b.txt", "b");
    MakeFolder(FDir / "dst/a.txt"); // a folder where the file should go
    MakeFolder(FDir / "dst/b.txt");
    StoreProject("P");
    const TRun run = Run({"sync", "P"});
    EXPECT_EQ(run.FStatus, 1);
    EXPECT_EQ(run.FOut, "new: 0 done, 2 failed\nupdate: 0 done, 0 failed\ndelete: 0 done, 0 failed\n");
    for (const char* name : {"a.txt", "b.txt"}) {
        const std::string prefix = FDir / "dst/" + name + ": ";
        const std::size_t at = run.FErr.find(prefix);
        ASSERT_NE(at, std::string::npos) << run.FErr;
        EXPECT_GT(run.FErr.find('\n', at), at + prefix.size()) << "a reason follows the path";
    }
}

TEST_F(CliTest, SyncMirrorsTheFoldersAndLogsOneItem) {
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "dst/old.txt", "old");
    StoreProject("P");
    FIni.WriteString("project_P", "FileDelete", "True");
    const TRun run = Run({"sync", "P"});
    EXPECT_EQ(run.FStatus, 0) << run.FErr;
    EXPECT_EQ(run.FOut, "new: 1 done, 0 failed\nupdate: 0 done, 0 failed\ndelete: 1 done, 0 failed\n");
    EXPECT_EQ(ReadTextFile(FDir / "dst/a.txt"), "a");
    EXPECT_FALSE(PathExists(FDir / "dst/old.txt"));
    const auto list = Gb18030ToUtf8(ReadTextFile(FDir / "log/list.xml"));
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->find("<list><item>"), 0u);
    // The log folder beside this configuration can be opened in a browser.
    EXPECT_EQ(ReadTextFile(FDir / "log/index.htm"),
              ReadTextFile(ExtractFileDir(CliPath()) + "/log/index.htm"));
    EXPECT_TRUE(PathExists(FDir / "log/log.xsl"));
}

TEST_F(CliTest, SyncExitStatusTellsFailedItemsAndRejectedProjects) {
    WriteTextFile(FDir / "src/a.txt", "a");
    MakeFolder(FDir / "dst/a.txt"); // a folder where the file should go
    StoreProject("P");
    EXPECT_EQ(Run({"sync", "P"}).FStatus, 1);
    const TRun rejected = Run({"sync", "nothing"});
    EXPECT_EQ(rejected.FStatus, 2);
    EXPECT_NE(rejected.FErr.find("源文件夹无效"), std::string::npos);
}

TEST_F(CliTest, RunJobRunsItsProjectsAndExitsWithTheWorstStatus) {
    WriteTextFile(FDir / "src/a.txt", "a");
    StoreProject("Good");
    FIni.WriteString("job-project_J", "0", "Good");
    FIni.WriteString("job-project_J", "1", "Missing");
    const TRun run = Run({"run-job", "J"});
    EXPECT_EQ(run.FStatus, 2);
    EXPECT_EQ(ReadTextFile(FDir / "dst/a.txt"), "a");
    EXPECT_NE(run.FOut.find("Good: 完成"), std::string::npos);
    EXPECT_NE(run.FOut.find("Missing: 中止"), std::string::npos);
    EXPECT_EQ(Run({"run-job", "NoSuchJob"}).FStatus, 2);
}

} // namespace

namespace {

TEST_F(CliTest, JobsSetsTheCopiesOfOneRunAndABadCountIsAUsageError) {
    StoreProject("P");
    for (int i = 0; i < 50; ++i) {
        WriteTextFile(FDir / ("src/d" + std::to_string(i % 5) + "/f" + std::to_string(i) + ".txt"), "x");
    }
    for (const char* bad : {"0", "17", "two", ""}) {
        EXPECT_EQ(Run({"sync", "P", "--jobs", bad}).FStatus, 64) << bad;
    }
    EXPECT_EQ(Run({"check", "P", "--jobs", "2"}).FStatus, 64);
    const TRun sync = Run({"sync", "--jobs", "3", "P"});
    EXPECT_EQ(sync.FStatus, 0) << sync.FErr;
    EXPECT_NE(sync.FOut.find("new: 50 done, 0 failed"), std::string::npos) << sync.FOut;
    // A stored count that is neither auto nor 1-16 refuses the run, and says why.
    FIni.WriteString("system", "ParallelCopies", "lots");
    WriteTextFile(FDir / "src/later.txt", "y");
    const TRun refused = Run({"sync", "P"});
    EXPECT_EQ(refused.FStatus, 2);
    EXPECT_NE(refused.FErr.find("ParallelCopies"), std::string::npos) << refused.FErr;
    EXPECT_FALSE(PathExists(FDir / "dst/later.txt"));
    EXPECT_EQ(Run({"sync", "--jobs=1", "P"}).FStatus, 0);
    EXPECT_TRUE(PathExists(FDir / "dst/later.txt"));
}

} // namespace
