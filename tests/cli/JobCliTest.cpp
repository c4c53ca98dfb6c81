// The job commands of the real pairwell-cli program: next-run, and run-job
// against the window's runner thread.

#include "TempDir.h"
#include "jobs/JobRecord.h"
#include "jobs/JobTestSupport.h"
#include "jobs/JobThread.h"

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TCliRun {
    int FStatus = -1;
    std::string FOut;
    std::string FErr;
};

class JobCliTest : public ::testing::Test {
protected:
    JobCliTest() : FIni(FConfig), FRunLog(FDir / "log") {}

    TCliRun Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--config", FConfig});
        std::vector<char> self(PATH_MAX + 1);
        const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
        const std::string selfPath(self.data(), static_cast<std::size_t>(length > 0 ? length : 0));
        const std::string program = selfPath.substr(0, selfPath.find_last_of('/')) + "/pairwell-cli";
        const std::string outPath = FDir / "stdout", errPath = FDir / "stderr";
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(outPath), ReadTextFile(errPath)};
    }

    // Every 30 minutes from 08:00 to 18:00.
    void StorePeriodicJob(const std::string& name, bool enabled) {
        TJobRecord record;
        record.FCbJobValid = enabled;
        record.FRbPeriod = true;
        record.FEditMinute = 30;
        record.FTimeBegin = EncodeDateTime({2026, 1, 1, 8, 0, 0, 0});
        record.FTimeEnd = EncodeDateTime({2026, 1, 1, 18, 0, 0, 0});
        WriteJob(FIni, name, record);
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    TIniFile FIni;
    TRunLog FRunLog;
};

TEST_F(JobCliTest, NextRunPrintsWhatTheRowWouldArm) {
    StorePeriodicJob("Half-hourly", true);
    const TCliRun inside = Cli({"next-run", "Half-hourly", "--at", "2026-03-10 10:12:40"});
    EXPECT_EQ(inside.FStatus, 0);
    EXPECT_EQ(inside.FOut, "10:42\n");
    EXPECT_TRUE(inside.FErr.empty());
    // Past the window: the next morning's first run.
    EXPECT_EQ(Cli({"next-run", "Half-hourly", "--at=2026-03-10 17:45:00"}).FOut, "08:30\n");
    EXPECT_EQ(Cli({"--at", "2026-03-10 20:00:00", "next-run", "Half-hourly"}).FOut, "08:30\n");

    StorePeriodicJob("Off", false);
    const TCliRun off = Cli({"next-run", "Off", "--at", "2026-03-10 10:00:00"});
    EXPECT_EQ(off.FStatus, 0);
    EXPECT_EQ(off.FOut, "暂停\n");
    EXPECT_EQ(Cli({"next-run", "NoSuchJob"}).FOut, "暂停\n");

    FIni.WriteString("job_Daily", "CbJobValid", "True");
    FIni.WriteString("job_Daily", "RbDay", "True");
    FIni.WriteString("job_Daily", "DateJob", "2020-02-02 17:30:00");
    const TCliRun now = Cli({"next-run", "Daily"}); // at the current time
    EXPECT_EQ(now.FStatus, 0);
    EXPECT_EQ(now.FOut, "17:30\n");
}

TEST_F(JobCliTest, NextRunUsageMistakesExitWith64) {
    StorePeriodicJob("J", true);
    EXPECT_EQ(Cli({"next-run"}).FStatus, 64);
    EXPECT_EQ(Cli({"next-run", "J", "extra"}).FStatus, 64);
    EXPECT_EQ(Cli({"next-run", "J", "--at"}).FStatus, 64);
    EXPECT_EQ(Cli({"next-run", "J", "--at", "tomorrow"}).FStatus, 64);
    EXPECT_EQ(Cli({"next-run", "J", "--at", "2026-03-10 25:00:00"}).FStatus, 64);
    const TCliRun elsewhere = Cli({"jobs", "--at", "2026-03-10 10:00:00"});
    EXPECT_EQ(elsewhere.FStatus, 64);
    EXPECT_TRUE(elsewhere.FOut.empty());
    EXPECT_NE(Cli({"--help"}).FOut.find("next-run JOB"), std::string::npos);
}

TEST_F(JobCliTest, RunJobAndTheRunnerThreadWriteTheSameItem) {
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "src/sub/b.txt", "b");
    WriteTextFile(FDir / "dst/surplus.txt", "s");
    jobtest::StoreProject(FIni, "P", FDir / "src", FDir / "dst");
    FIni.WriteString("project_P", "FileDelete", "True");
    FIni.WriteString("project_P", "cbIncludeBlankFolder", "True");
    jobtest::StoreJob(FIni, "J", {"P"});

    EXPECT_EQ(Cli({"run-job", "J"}).FStatus, 0);
    std::filesystem::remove_all(FDir / "dst");
    WriteTextFile(FDir / "dst/surplus.txt", "s");
    TJobThread runner(FIni, FRunLog, "J", nullptr, {});
    runner.Start();
    runner.Wait();

    const std::vector<jobtest::Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(jobtest::Masked(items[0]), jobtest::Masked(items[1]));
    EXPECT_TRUE(jobtest::Contains(items[1], "<ProcessStatus>完成</ProcessStatus>"));
    EXPECT_TRUE(jobtest::Contains(items[1], "<DeleteCount>1</DeleteCount>"));
}

} // namespace
