#include "RemoteCliTest.h"

#include <chrono>
#include <functional>
#include <sys/mount.h>
#include <thread>

// Faults of a folder on another machine, met through pairwell-cli against a
// real sshd: a connection lost mid-run, host keys ssh refuses, and errors of
// the server itself.

namespace {

class RemoteFaultsCliTest : public TRemoteCliTest {
protected:
    void Project(const std::string& target, const std::string& sshCommand) {
        Set(ProjectKey::Source, FDir / "src");
        Set(ProjectKey::Target, target);
        Set(ProjectKey::SshCommand, sshCommand);
    }
    // Runs a sync and calls during once a copy's temporary appears in folder.
    TCliResult SyncCutting(const std::string& folder, const std::function<void()>& during) {
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open((FDir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            dup2(open((FDir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            ExecCli(Args({"sync", "remote", "--jobs", "1"}));
        }
        bool seen = false;
        for (int i = 0; i < 20000 && !seen; ++i) {
            seen = HoldsCopyTemporaries(folder);
            if (!seen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        EXPECT_TRUE(seen) << "no copy under way was seen";
        during();
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(FDir / "stdout"),
                ReadTextFile(FDir / "stderr")};
    }
    // A large file first, then small ones.
    void WriteSourceFiles() {
        WriteTextFile(FDir / "src/a-large.bin", Large());
        for (int i = 0; i < 40; ++i) {
            WriteTextFile(FDir / ("src/b" + std::to_string(100 + i) + ".txt"), "small " + std::to_string(i));
        }
    }
    static const std::string& Large() {
        static const std::string large = [] {
            std::string bytes(96u << 20, '\0');
            for (std::size_t i = 0; i < bytes.size(); i += 4096) {
                bytes[i] = static_cast<char>(i / 4096);
            }
            return bytes;
        }();
        return large;
    }
    void ExpectWholeCopies(bool largeToo) {
        if (largeToo || PathExists(FDir / "remote/a-large.bin")) {
            EXPECT_TRUE(ReadTextFile(FDir / "remote/a-large.bin") == Large()) << "a half file under its name";
        }
        for (int i = 0; i < 40; ++i) {
            const std::string name = "b" + std::to_string(100 + i) + ".txt";
            if (largeToo || PathExists(FDir / ("remote/" + name))) {
                EXPECT_EQ(ReadTextFile(FDir / ("remote/" + name)), "small " + std::to_string(i)) << name;
            }
        }
    }
};

} // namespace

TEST_F(RemoteFaultsCliTest, AConnectionLostMidRunIsMadeAgainAndTheCopyUnderWayIsRetriedWhole) {
    WriteSourceFiles();
    Project(FSshd->Address(FDir / "remote"), FSshd->ProxiedSshCommand());
    const TCliResult run = SyncCutting(FDir / "remote", [&] { FSshd->KillProxiedConnections(); });
    EXPECT_EQ(run.FStatus, 0) << run.FOut << run.FErr;
    EXPECT_EQ(run.FOut, "new: 41 done, 0 failed\nupdate: 0 done, 0 failed\ndelete: 0 done, 0 failed\n");
    ExpectWholeCopies(true);
    EXPECT_FALSE(HoldsCopyTemporaries(FDir / "remote"));
    EXPECT_NE(DayLogs().find("<ProcessStatus>完成</ProcessStatus>"), std::string::npos);
}

TEST_F(RemoteFaultsCliTest, AConnectionThatCannotBeMadeAgainEndsTheRunAndTheNextRunCompletesIt) {
    WriteSourceFiles();
    Project(FSshd->Address(FDir / "remote"), FSshd->ProxiedSshCommand());
    const auto started = std::chrono::steady_clock::now();
    const TCliResult run = SyncCutting(FDir / "remote", [&] {
        FSshd->SetDown(true);
        FSshd->KillProxiedConnections();
    });
    EXPECT_EQ(run.FStatus, 2) << run.FOut << run.FErr;
    // Three attempts after 1, 2 and 4 s, then the end: the small files are not tried one by one.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));
    EXPECT_EQ(run.FOut, "new: 0 done, 1 failed\nupdate: 0 done, 0 failed\ndelete: 0 done, 0 failed\n");
    EXPECT_NE(run.FErr.find("与服务器的连接已断开: "), std::string::npos) << run.FErr;
    EXPECT_NE(run.FErr.find("the test server is down"), std::string::npos) << run.FErr;
    const std::string log = DayLogs();
    EXPECT_NE(log.find("<ProcessStatus>中止</ProcessStatus>"), std::string::npos) << log;
    EXPECT_NE(log.find("<Error>与服务器的连接已断开: the test server is down"), std::string::npos) << log;
    EXPECT_FALSE(PathExists(FDir / "remote/a-large.bin"));
    EXPECT_TRUE(HoldsCopyTemporaries(FDir / "remote")) << "the cut copy's temporary stays on the server";

    // The server is back: the next run sweeps the temporary and completes.
    FSshd->SetDown(false);
    const TCliResult next = Run({"sync", "remote"});
    EXPECT_EQ(next.FStatus, 0) << next.FErr;
    ExpectWholeCopies(true);
    EXPECT_FALSE(HoldsCopyTemporaries(FDir / "remote"));
}

TEST_F(RemoteFaultsCliTest, UnknownAndChangedHostKeysRefuseTheProjectNamingTheFingerprint) {
    WriteTextFile(FDir / "src/a.txt", "a");
    const struct {
        std::string FSshCommand;
        std::string FWords;
    } cases[] = {{FSshd->UnknownHostSshCommand(), "Host key verification failed"},
                 {FSshd->ChangedHostSshCommand(), "REMOTE HOST IDENTIFICATION HAS CHANGED"}};
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.FWords);
        Project(FSshd->Address(FDir / "remote"), refused.FSshCommand);
        const TCliResult run = Run({"sync", "remote"});
        EXPECT_EQ(run.FStatus, 2);
        EXPECT_NE(run.FErr.find("目标文件夹无效: "), std::string::npos) << run.FErr;
        EXPECT_NE(run.FErr.find(refused.FWords), std::string::npos) << run.FErr;
        EXPECT_NE(run.FErr.find(FSshd->HostKeyFingerprint()), std::string::npos) << run.FErr;
        const std::string log = DayLogs();
        const std::size_t error = log.rfind("<Error>");
        ASSERT_NE(error, std::string::npos) << log;
        const std::string element = log.substr(error, log.find("</Error>", error) - error);
        EXPECT_NE(element.find(refused.FWords), std::string::npos) << element;
        EXPECT_NE(element.find(FSshd->HostKeyFingerprint()), std::string::npos) << element;
        EXPECT_FALSE(PathExists(FDir / "remote"));
    }
}

TEST_F(RemoteFaultsCliTest, TheServersOwnErrorsFailTheItemWithItsReasonAndLeaveNoTemporary) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for mounts and the immutable flag";
    }
    WriteTextFile(FDir / "src/big.bin", std::string(3u << 20, 'b'));
    WriteTextFile(FDir / "src/small.txt", "small");
    const auto failsWith = [&](const std::string& folder, const std::string& sshCommand,
                               const std::string& reason, bool smallDone) {
        SCOPED_TRACE(reason);
        Project(FSshd->Address(folder), sshCommand);
        const TCliResult run = Run({"sync", "remote"});
        EXPECT_EQ(run.FStatus, 1) << run.FOut << run.FErr;
        EXPECT_NE(run.FErr.find(folder + "/big.bin: " + reason), std::string::npos) << run.FErr;
        EXPECT_EQ(PathExists(folder + "/small.txt"), smallDone);
        EXPECT_FALSE(PathExists(folder + "/big.bin"));
        EXPECT_FALSE(HoldsCopyTemporaries(folder));
    };

    // A full disk: the server says only "Failure"; its free space tells.
    MakeFolder(FDir / "full");
    if (mount("tmpfs", (FDir / "full").c_str(), "tmpfs", 0, "size=1m") == 0) {
        failsWith(FDir / "full", FSshd->SshCommand(), "No space left on device", true);
        umount2((FDir / "full").c_str(), MNT_DETACH);
    } else {
        ADD_FAILURE() << "no tmpfs could be mounted";
    }

    // A denied write: a folder that takes no new entry.
    MakeFolder(FDir / "denied");
    if (std::system(("chattr +i " + FDir / "denied" + " 2>/dev/null").c_str()) == 0) {
        failsWith(FDir / "denied", FSshd->SshCommand(), "Permission denied", false);
        std::system(("chattr -i " + FDir / "denied").c_str());
    }
    // A read-only file system, which the server words as a bare "Failure" too.
    MakeFolder(FDir / "readonly");
    if (mount((FDir / "readonly").c_str(), (FDir / "readonly").c_str(), nullptr, MS_BIND, nullptr) == 0) {
        if (mount(nullptr, (FDir / "readonly").c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
            0) {
            failsWith(FDir / "readonly", FSshd->SshCommand(), "Read-only file system", false);
        }
        umount2((FDir / "readonly").c_str(), MNT_DETACH);
    }

    // A server that refuses to set times: the copy fails rather than keep a wrong time.
    MakeFolder(FDir / "timeless");
    failsWith(FDir / "timeless", FSshd->TimeRefusingSshCommand(), "Permission denied", false);
}
