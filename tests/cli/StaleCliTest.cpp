// "pairwell-cli stale": the jobs whose stale-backup alert is due, for scripts.

#include "CliProgram.h"
#include "TempDir.h"
#include "config/IniFile.h"
#include "jobs/JobState.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>

namespace {

struct TCliRun {
    int FStatus = -1;
    std::string FOut;
};

TCliRun RunCli(const TTempDir& dir, std::vector<std::string> args) {
    const std::string outPath = dir / "stdout";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        ExecCli(std::move(args));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(outPath)};
}

TDateTime At(int day, int hour) {
    return EncodeDateTime({2026, 3, day, hour, 0, 0, 0});
}

TEST(StaleCliTest, ListsTheEnabledJobsDueForTheAlert) {
    TTempDir dir;
    const std::string config = dir / "pairwell.ini";
    {
        TIniFile ini(config);
        for (const std::string job : {"Usb", "Off", "Disabled", "Fresh"}) {
            ini.WriteString("job_" + job, "CbJobValid", job == "Disabled" ? "False" : "True");
            ini.WriteString("job_" + job, "RbDay", "True");
            ini.WriteString("job_" + job, "StaleDays", job == "Off" ? "0" : "3");
        }
        ini.UpdateFile();
    }
    const TJobState state(config);
    for (const std::string job : {"Usb", "Off", "Disabled"}) {
        state.RecordStart(job, At(1, 2));
        state.RecordEnd(job, At(1, 3), true);
    }
    state.RecordStart("Fresh", At(1, 2)); // never clean: counted from its first start
    state.RecordEnd("Fresh", At(3, 3), false);

    const TCliRun early = RunCli(dir, {"--config", config, "stale", "--at", "2026-03-04 01:59:59"});
    EXPECT_EQ(early.FStatus, 0);
    EXPECT_EQ(early.FOut, "");
    const TCliRun late = RunCli(dir, {"--config", config, "stale", "--at", "2026-03-04 03:00:00"});
    EXPECT_EQ(late.FStatus, 1);
    EXPECT_EQ(late.FOut, "Usb\t3\nFresh\t3\n");
    EXPECT_EQ(RunCli(dir, {"--config", config, "stale", "Usb"}).FStatus, 64);
}

} // namespace
