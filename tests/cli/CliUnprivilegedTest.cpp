// pairwell-cli where permissions bind: every entry the check cannot examine
// and every item the apply cannot do is reported with its reason.

#include "CliProgram.h"
#include "TempDir.h"
#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun {
    int FStatus = -1;
    std::string FOut;
    std::string FErr;
};

bool CanDropPrivileges() {
    return geteuid() != 0 || getpwnam("nobody") != nullptr;
}

// Runs pairwell-cli as the user "nobody" (or as ourselves when not root).
TRun RunAsNobody(const TTempDir& dir, std::vector<std::string> args) {
    const std::string outPath = dir / "out", errPath = dir / "err";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                setuid(nobody->pw_uid) != 0) {
                _exit(126);
            }
        }
        ExecCli(std::move(args));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(outPath), ReadTextFile(errPath)};
}

class CliUnprivilegedTest : public ::testing::Test {
protected:
    CliUnprivilegedTest() {
        if (!CanDropPrivileges()) {
            return;
        }
        TIniFile ini(FConfig);
        ini.WriteString("project_P", "source", FDir / "src");
        ini.WriteString("project_P", "target", FDir / "dst");
        WriteTextFile(FDir / "src/a.txt", "a");
        WriteTextFile(FDir / "src/locked/b.txt", "b");
        MakeFolder(FDir / "dst");
        MakeFolder(FDir / "log");
        chmod(FDir.Path().c_str(), 0755);
        chmod((FDir / "src").c_str(), 0755);
        chmod((FDir / "src/a.txt").c_str(), 0644);
        chmod((FDir / "log").c_str(), 0777);
        chmod(FConfig.c_str(), 0644);
        chmod((FDir / "src/locked").c_str(), 0000);
    }
    ~CliUnprivilegedTest() override { chmod((FDir / "src/locked").c_str(), 0755); }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
};

TEST_F(CliUnprivilegedTest, CheckReportsWhatItCouldNotExamineAndExitsWith1) {
    if (!CanDropPrivileges()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    const TRun run = RunAsNobody(FDir, {"--config", FConfig, "check", "P"});
    EXPECT_EQ(run.FStatus, 1) << run.FErr;
    EXPECT_EQ(run.FOut, "new\ta.txt\n");
    EXPECT_NE(run.FErr.find(FDir / "src/locked"), std::string::npos) << run.FErr;
    EXPECT_NE(run.FErr.find(": Permission denied\n"), std::string::npos) << run.FErr;
}

TEST_F(CliUnprivilegedTest, SyncIntoAnUnwritableTargetGivesEveryPathWithItsReason) {
    if (!CanDropPrivileges()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    chmod((FDir / "src/locked").c_str(), 0755);
    chmod((FDir / "src/locked/b.txt").c_str(), 0644);
    chmod((FDir / "dst").c_str(), 0555);
    const TRun run = RunAsNobody(FDir, {"--config", FConfig, "sync", "P"});
    EXPECT_EQ(run.FStatus, 1) << run.FErr;
    EXPECT_EQ(run.FOut.substr(0, run.FOut.find('\n')), "new: 0 done, 2 failed");
    for (const char* path : {"dst/a.txt: ", "dst/locked/b.txt: "}) {
        EXPECT_NE(run.FErr.find(FDir / path), std::string::npos) << path << " in " << run.FErr;
    }
    EXPECT_NE(run.FErr.find("Permission denied"), std::string::npos) << run.FErr;
}

} // namespace
