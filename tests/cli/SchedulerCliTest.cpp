// The scheduler's command-line surface, through the real program: next-run
// with catch-up, the daemon with its lock and its signals, and the JSON report.

#include "CliProgram.h"
#include "TempDir.h"
#include "jobs/JobRecord.h"
#include "jobs/JobState.h"
#include "jobs/JobTestSupport.h"
#include "jobs/SchedulerLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct TCliRun {
    int FStatus = -1;
    std::string FOut;
    std::string FErr;
};

class SchedulerCliTest : public ::testing::Test {
protected:
    SchedulerCliTest() : FIni(FConfig), FRunLog(FDir / "log") {}

    // Starts pairwell-cli with its output in files named after tag.
    pid_t Start(std::vector<std::string> args, const std::string& tag) {
        args.insert(args.begin(), {"--config", FConfig});
        const std::string outPath = FDir / (tag + ".out"), errPath = FDir / (tag + ".err");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            ExecCli(args);
        }
        return pid;
    }
    TCliRun Finish(pid_t pid, const std::string& tag) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(FDir / (tag + ".out")),
                ReadTextFile(FDir / (tag + ".err"))};
    }
    TCliRun Cli(std::vector<std::string> args) { return Finish(Start(std::move(args), "cli"), "cli"); }

    // Waits up to 20 s for a condition.
    template <typename TCondition> static bool Eventually(TCondition condition) {
        for (int i = 0; i < 2000; ++i) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    TIniFile FIni;
    TRunLog FRunLog;
};

// next-run prints the catch-up time when CatchUp is on and a run was missed
// since the last start (given, or read from the state file), else as before.
TEST_F(SchedulerCliTest, NextRunPrintsTheCatchUpTimeOfAMissedRun) {
    TJobRecord daily;
    daily.FCbJobValid = true;
    daily.FRbDay = true;
    daily.FDateJob = EncodeDateTime({2026, 1, 1, 2, 30, 0, 0});
    daily.FCatchUp = true;
    WriteJob(FIni, "Nightly", daily);
    daily.FCatchUp = false;
    WriteJob(FIni, "Plain", daily);

    const std::string at = "2026-03-10 09:00:00";
    EXPECT_EQ(Cli({"next-run", "Nightly", "--at", at, "--last-run", "2026-03-09 02:30:00"}).FOut, "09:02\n");
    EXPECT_EQ(Cli({"next-run", "Nightly", "--at", at, "--last-run", "2026-03-10 02:30:00"}).FOut, "02:30\n");
    EXPECT_EQ(Cli({"next-run", "Plain", "--at", at, "--last-run", "2026-03-09 02:30:00"}).FOut, "02:30\n");
    EXPECT_EQ(Cli({"next-run", "Nightly", "--at", at}).FOut, "02:30\n"); // never ran: nothing missed
    TJobState(FConfig).RecordStart("Nightly", EncodeDateTime({2026, 3, 8, 2, 30, 0, 0}));
    EXPECT_EQ(Cli({"next-run", "Nightly", "--at", at}).FOut, "09:02\n");
    EXPECT_EQ(Cli({"next-run", "Nightly", "--at", "2026-03-10 23:59:00"}).FOut, "00:01\n");

    TJobRecord change;
    change.FCbJobValid = true;
    change.FRbChange = true;
    WriteJob(FIni, "OnChange", change);
    EXPECT_EQ(Cli({"next-run", "OnChange"}).FOut, "变化时\n");
    change.FRbChange = false;
    change.FRbConnect = true;
    WriteJob(FIni, "OnConnect", change);
    EXPECT_EQ(Cli({"next-run", "OnConnect"}).FOut, "连接时\n");

    FIni.WriteString(JobSection("OnChange"), JobKey::QuietSeconds, "soon"); // unreadable: unarmed
    EXPECT_EQ(Cli({"next-run", "OnChange"}).FOut, "暂停\n");
    FIni.WriteString(JobSection("Plain"), JobKey::MaxWaitSeconds, "-1");
    EXPECT_EQ(Cli({"next-run", "Plain", "--at", at}).FOut, "暂停\n");

    EXPECT_EQ(Cli({"next-run", "Nightly", "--last-run", "yesterday"}).FStatus, 64);
    EXPECT_EQ(Cli({"jobs", "--last-run", at}).FStatus, 64);
    EXPECT_EQ(Cli({"jobs", "--json"}).FStatus, 64);
}

// One scheduler per configuration: a second daemon, or a daemon beside the
// window's lock, exits 2 with a message.
TEST_F(SchedulerCliTest, OneDaemonPerConfigurationAndNoneBesideTheWindow) {
    FIni.WriteString("system", "project", "");
    const pid_t first = Start({"daemon"}, "first");
    ASSERT_TRUE(Eventually([&] { return SchedulerLockHeld(FConfig); }));
    const TCliRun second = Cli({"daemon"});
    EXPECT_EQ(second.FStatus, 2);
    EXPECT_NE(second.FErr.find("already scheduled by pairwell-cli daemon, process " + std::to_string(first)),
              std::string::npos)
        << second.FErr;
    // The same configuration reached through a symbolic link is the same one.
    std::filesystem::create_symlink(FConfig, FDir / "linked.ini");
    EXPECT_TRUE(SchedulerLockHeld(FDir / "linked.ini"));
    kill(first, SIGTERM);
    EXPECT_EQ(Finish(first, "first").FStatus, 0);
    EXPECT_FALSE(SchedulerLockHeld(FConfig));

    const TSchedulerLock window(FConfig, "Pairwell window");
    ASSERT_TRUE(window.Held());
    const TCliRun beside = Cli({"daemon"});
    EXPECT_EQ(beside.FStatus, 2);
    EXPECT_NE(beside.FErr.find("already scheduled by Pairwell window"), std::string::npos) << beside.FErr;
}

// The daemon takes up a job enabled while it runs, runs it on a change, and
// on SIGTERM stops the run at its next file, logs "中止" and exits 0.
TEST_F(SchedulerCliTest, DaemonRunsChangedJobsAndStopsMidRunOnSigterm) {
    for (int folder = 0; folder < 10; ++folder) {
        for (int file = 0; file < 200; ++file) {
            WriteTextFile(FDir / ("src/d" + std::to_string(folder) + "/f" + std::to_string(file)), "x");
        }
    }
    MakeFolder(FDir / "dst");
    jobtest::StoreProject(FIni, "Big", FDir / "src", FDir / "dst");
    TJobRecord record;
    record.FCbJobValid = false;
    record.FRbChange = true;
    record.FQuietSeconds = 0;
    record.FMinIntervalSeconds = 0;
    record.FProjects = {"Big"};
    WriteJob(FIni, "Mirror", record);

    const pid_t daemon = Start({"daemon"}, "daemon");
    ASSERT_TRUE(Eventually([&] { return SchedulerLockHeld(FConfig); }));
    record.FCbJobValid = true;
    WriteJob(FIni, "Mirror", record); // the daemon reads the configuration again
    ASSERT_TRUE(Eventually(
        [&] { return ReadTextFile(FDir / "daemon.err").find("job Mirror scheduled") != std::string::npos; }));
    WriteTextFile(FDir / "src/trigger.txt", "go");
    ASSERT_TRUE(Eventually([&] { return PathExists(FDir / "dst/d0"); })); // the run copies
    kill(daemon, SIGTERM);
    const TCliRun ended = Finish(daemon, "daemon");
    EXPECT_EQ(ended.FStatus, 0) << ended.FErr;

    std::size_t copied = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FDir / "dst")) {
        copied += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_LT(copied, 2001u); // not every file
    const std::vector<jobtest::Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(jobtest::Contains(items[0], "<ProcessStatus>中止</ProcessStatus>"));
    const TJobRunState state = TJobState(FConfig).Read("Mirror");
    EXPECT_TRUE(state.FLastStart);
    EXPECT_TRUE(state.FLastEnd);
    EXPECT_FALSE(state.FLastEndClean);
    EXPECT_NE(ended.FErr.find("job Mirror ended: not completed"), std::string::npos) << ended.FErr;
}

// A daemon on the default configuration, started before anything was set up
// (a service enabled at once), waits for the file instead of failing, and
// takes up its jobs when it is written.
TEST_F(SchedulerCliTest, ADaemonWaitsForItsDefaultConfigurationToBeWritten) {
    const std::string program = FDir / "bin/pairwell-cli";
    MakeFolder(FDir / "bin");
    std::filesystem::copy_file(CliPath(), program);
    const std::string errPath = FDir / "waiting.err";
    WriteTextFile(errPath, "");
    const pid_t daemon = fork();
    if (daemon == 0) {
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "daemon", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(
        Eventually([&] { return ReadTextFile(errPath).find("waiting for it") != std::string::npos; }));
    TIniFile ini(FDir / "bin/pairwell.ini");
    TJobRecord record;
    record.FCbJobValid = true;
    record.FRbDay = true;
    WriteJob(ini, "Late", record);
    EXPECT_TRUE(
        Eventually([&] { return ReadTextFile(errPath).find("job Late scheduled") != std::string::npos; }));
    kill(daemon, SIGTERM);
    int status = -1;
    waitpid(daemon, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadTextFile(errPath);
}

// "--json": one object on standard output with the project or job, times,
// status, the counts of every phase, the failures and the log file.
TEST_F(SchedulerCliTest, JsonReportFollowsItsSchema) {
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "src/b\xff\".txt", "b");
    WriteTextFile(FDir / "dst/b\xff\".txt/inner", "a folder where the file should go");
    jobtest::StoreProject(FIni, "Site", FDir / "src", FDir / "dst");
    jobtest::StoreProject(FIni, "Gone", FDir / "missing", FDir / "dst");
    jobtest::StoreJob(FIni, "Nightly", {"Site", "Gone"});

    const std::regex time(R"("20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d")");
    const auto masked = [&](const std::string& text) { return std::regex_replace(text, time, "\"T\""); };
    const std::string log = FRunLog.DayLogFileName();
    const std::string failure = "\"phase\":\"new\",\"path\":\"" + FDir.Path() + "/dst/b\\ufffd\\\".txt\"";

    const TCliRun sync = Cli({"sync", "Site", "--json"});
    EXPECT_EQ(sync.FStatus, 1);
    EXPECT_EQ(
        masked(sync.FOut),
        "{\"schema\":\"pairwell-run/"
        "1\",\"command\":\"sync\",\"project\":\"Site\",\"start\":\"T\",\"end\":\"T\","
        "\"status\":\"failed-items\",\"exitStatus\":1,\"error\":\"\",\"counts\":{\"check\":{\"failed\":0},"
        "\"new\":{\"done\":1,\"failed\":1},\"update\":{\"done\":0,\"failed\":0},\"delete\":{\"done\":0,"
        "\"failed\":0},\"moved\":0},\"failures\":[{" +
            failure + ",\"reason\":\"File exists\"}],\"logFile\":\"" + log + "\"}\n");

    const TCliRun job = Cli({"run-job", "Nightly", "--json"});
    EXPECT_EQ(job.FStatus, 2);
    const std::string counts =
        "\"counts\":{\"check\":{\"failed\":0},\"new\":{\"done\":0,\"failed\":1},"
        "\"update\":{\"done\":0,\"failed\":0},\"delete\":{\"done\":0,\"failed\":0},\"moved\":0}";
    const std::string none =
        "\"counts\":{\"check\":{\"failed\":0},\"new\":{\"done\":0,\"failed\":0},"
        "\"update\":{\"done\":0,\"failed\":0},\"delete\":{\"done\":0,\"failed\":0},\"moved\":0}";
    EXPECT_EQ(
        masked(job.FOut),
        "{\"schema\":\"pairwell-run/1\",\"command\":\"run-job\",\"job\":\"Nightly\",\"start\":\"T\",\"end\":"
        "\"T\",\"status\":\"not-completed\",\"exitStatus\":2,\"error\":\"\"," +
            counts + ",\"failures\":[{\"project\":\"Site\"," + failure +
            ",\"reason\":\"File exists\"}],\"projects\":[{\"project\":\"Site\",\"start\":\"T\",\"end\":\"T\","
            "\"status\":\"failed-items\",\"exitStatus\":1,\"error\":\"\"," +
            counts + ",\"failures\":[{" + failure +
            ",\"reason\":\"File exists\"}]},{\"project\":\"Gone\",\"start\":\"T\",\"end\":\"T\",\"status\":"
            "\"not-completed\",\"exitStatus\":2,\"error\":\"源文件夹无效: " +
            FDir / "missing: does not exist\"," + none + ",\"failures\":[]}],\"logFile\":\"" + log + "\"}\n");

    const TCliRun missing = Cli({"run-job", "NoSuchJob", "--json"});
    EXPECT_EQ(missing.FStatus, 2);
    EXPECT_NE(missing.FOut.find(
                  R"("status":"not-completed","exitStatus":2,"error":"No job named \"NoSuchJob\" in )"),
              std::string::npos)
        << missing.FOut;
    EXPECT_NE(missing.FOut.find(R"("projects":[])"), std::string::npos);
}

} // namespace
