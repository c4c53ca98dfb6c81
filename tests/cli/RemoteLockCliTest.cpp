// A receiving folder on another machine through the real pairwell-cli and a
// real sshd: its lock, versions and restore with the project's ssh command,
// and the refusals that come before anything is written.

#include "RemoteCliTest.h"
#include "config/DateTime.h"

#include <climits>
#include <csignal>
#include <fstream>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

class RemoteLockCliTest : public TRemoteCliTest {
protected:
    void SetUp() override {
        TRemoteCliTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        Set(ProjectKey::Source, FDir / "src");
        Set(ProjectKey::Target, FSshd->Address(FDir / "remote"));
        Set(ProjectKey::FileDelete, "True");
        Set(ProjectKey::SshCommand, FSshd->SshCommand());
    }
    std::string LastLogItem() const {
        const std::string log =
            Gb18030ToUtf8(ReadTextFile(FDir / "log/" + FormatLogDate(Now()) + ".xml")).value_or("");
        const std::size_t at = log.rfind("<item>");
        return at == std::string::npos ? log : log.substr(at);
    }
    std::string LockPath() const { return FDir / "remote/.pairwell-lock"; }
};

} // namespace

TEST_F(RemoteLockCliTest, ARunHoldsTheLockOfItsRemoteTargetAndKeepsOtherRunsOut) {
    // Large enough that the run is caught while it copies.
    WriteTextFile(FDir / "src/big.bin", std::string(64 << 20, 'b'));
    WriteTextFile(FDir / "src/a.txt", "a");
    const pid_t first = fork();
    if (first == 0) {
        dup2(open((FDir / "first.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open((FDir / "first.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        ExecCli({"--config", FDir / "pairwell.ini", "sync", "remote"});
    }
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        std::ifstream lock(LockPath());
        if (lock.good() && lock.peek() != std::ifstream::traits_type::eof()) {
            kill(first, SIGSTOP);
            seen = true;
        } else {
            usleep(500);
        }
    }
    ASSERT_TRUE(seen) << "no lock while the first run wrote";
    const std::string holder = "主机 " + HostName() + ", 进程 " + std::to_string(first) + ", 开始于 ";
    EXPECT_TRUE(std::regex_match(ReadTextFile(LockPath()),
                                 std::regex("host=" + HostName() + "\npid=" + std::to_string(first) +
                                            "\nstarted=20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n")))
        << ReadTextFile(LockPath());
    // A second run onto the folder is refused, named and logged as a refused folder is.
    TCliResult second = Run({"sync", "remote"});
    EXPECT_EQ(second.FStatus, 2);
    EXPECT_NE(second.FErr.find("目标文件夹正被另一次运行使用: " + holder), std::string::npos) << second.FErr;
    EXPECT_NE(LastLogItem().find(
                  "<ProcessStatus>中止</ProcessStatus>\r\n<Error>目标文件夹正被另一次运行使用: " + holder),
              std::string::npos)
        << LastLogItem();
    kill(first, SIGCONT);
    int status = 0;
    waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadTextFile(FDir / "first.err");
    EXPECT_EQ(ReadTextFile(FDir / "remote/big.bin").size(), std::size_t{64} << 20);
    EXPECT_FALSE(PathExists(LockPath()));

    // A lock left by a process of this machine that has ended is taken over.
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    waitpid(ended, nullptr, 0);
    WriteTextFile(LockPath(), "host=" + HostName() + "\npid=" + std::to_string(ended) +
                                  "\nstarted=2020-01-01 00:00:00\n");
    WriteTextFile(FDir / "src/a.txt", "a, again");
    second = Run({"sync", "remote"});
    EXPECT_EQ(second.FStatus, 0) << second.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/a.txt"), "a, again");
    EXPECT_FALSE(PathExists(LockPath()));

    // Another machine's lock is refused, never seen by a check, and taken over with --break-lock.
    const std::string foreign = "host=elsewhere\npid=1\nstarted=2020-01-01 00:00:00\n";
    WriteTextFile(LockPath(), foreign);
    WriteTextFile(FDir / "src/b.txt", "b");
    second = Run({"sync", "remote"});
    EXPECT_EQ(second.FStatus, 2);
    EXPECT_NE(
        second.FErr.find("目标文件夹正被另一次运行使用: 主机 elsewhere, 进程 1, 开始于 2020-01-01 00:00:00"),
        std::string::npos)
        << second.FErr;
    EXPECT_FALSE(PathExists(FDir / "remote/b.txt"));
    EXPECT_EQ(ReadTextFile(LockPath()), foreign);
    EXPECT_EQ(Run({"check", "remote"}).FOut, "new\tb.txt\n");
    second = Run({"sync", "remote", "--break-lock"});
    EXPECT_EQ(second.FStatus, 0) << second.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/b.txt"), "b");
    EXPECT_FALSE(PathExists(LockPath()));

    // Nor is a lock in a remote source part of its index.
    WriteTextFile(LockPath(), foreign);
    Set(ProjectKey::Source, FSshd->Address(FDir / "remote"));
    Set(ProjectKey::Target, FDir / "local");
    EXPECT_EQ(Run({"check", "remote"}).FOut, "new\ta.txt\nnew\tb.txt\nnew\tbig.bin\n");
}

TEST_F(RemoteLockCliTest, VersionsAndRestoreOfARemoteTargetUseTheProjectsSshCommandAndItsLock) {
    // The server is known by the test's ssh configuration alone: the default ssh would not get through.
    Set(ProjectKey::Versioning, "True");
    WriteTextFile(FDir / "src/a.txt", "old");
    SetModifiedTime(FDir / "src/a.txt", 1'700'000'000);
    ASSERT_EQ(Run({"sync", "remote"}).FStatus, 0);
    WriteTextFile(FDir / "src/a.txt", "new, longer");
    SetModifiedTime(FDir / "src/a.txt", 1'700'000'100);
    ASSERT_EQ(Run({"sync", "remote"}).FStatus, 0);

    const TCliResult versions = Run({"versions", "remote"});
    EXPECT_EQ(versions.FStatus, 0) << versions.FErr;
    EXPECT_TRUE(std::regex_match(versions.FOut, std::regex("20[-0-9: ]+\ta\\.txt\t3\n"))) << versions.FOut;

    WriteTextFile(LockPath(), "host=elsewhere\npid=1\nstarted=2020-01-01 00:00:00\n");
    TCliResult restore = Run({"restore", "remote", "a.txt"});
    EXPECT_EQ(restore.FStatus, 2);
    EXPECT_NE(restore.FErr.find("目标文件夹正被另一次运行使用: 主机 elsewhere"), std::string::npos)
        << restore.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/a.txt"), "new, longer");
    restore = Run({"restore", "remote", "a.txt", "--break-lock"});
    EXPECT_EQ(restore.FStatus, 0) << restore.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/a.txt"), "old");
    EXPECT_FALSE(PathExists(LockPath()));
}

TEST_F(RemoteLockCliTest, ARunOntoARemoteFolderIsRefusedBeforeItWritesAnything) {
    // The deletion guard: an emptied source never empties the server's folder.
    WriteTextFile(FDir / "src/a.txt", "a");
    WriteTextFile(FDir / "src/b.txt", "b");
    ASSERT_EQ(Run({"sync", "remote"}).FStatus, 0);
    std::remove((FDir / "src/a.txt").c_str());
    std::remove((FDir / "src/b.txt").c_str());
    TCliResult run = Run({"sync", "remote"});
    EXPECT_EQ(run.FStatus, 4);
    EXPECT_NE(run.FErr.find("删除保护"), std::string::npos) << run.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/a.txt"), "a");
    EXPECT_EQ(ReadTextFile(FDir / "remote/b.txt"), "b");
    EXPECT_FALSE(PathExists(LockPath()));

    // A deploy folder that cannot be reached, with ssh's reason.
    Set(ProjectKey::UpdateToOther, "True");
    Set(ProjectKey::Deploy, "sftp://127.0.0.1:1" + (FDir / "deploy"));
    run = Run({"sync", "remote"});
    EXPECT_EQ(run.FStatus, 2);
    EXPECT_NE(run.FErr.find("指定的发布目录无效"), std::string::npos) << run.FErr;
    EXPECT_NE(run.FErr.find("Connection refused"), std::string::npos) << run.FErr;
}
