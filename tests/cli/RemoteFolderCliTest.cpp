#include "RemoteCliTest.h"

#include <dirent.h>
#include <sys/stat.h>

namespace {

std::int64_t ModifiedSeconds(const std::string& path, long* nanoseconds = nullptr) {
    struct stat st {};
    stat(path.c_str(), &st);
    if (nanoseconds != nullptr) {
        *nanoseconds = st.st_mtim.tv_nsec;
    }
    return st.st_mtim.tv_sec;
}

class RemoteFolderCliTest : public TRemoteCliTest {
protected:
    void Project(const std::string& source, const std::string& target, const std::string& sshCommand = "") {
        Set(ProjectKey::Source, source);
        Set(ProjectKey::Target, target);
        Set(ProjectKey::FileDelete, "True");
        Set(ProjectKey::SshCommand, sshCommand.empty() ? FSshd->SshCommand() : sshCommand);
    }
};

} // namespace

TEST_F(RemoteFolderCliTest, ASyncToARemoteTargetCopiesUpdatesDeletesAndThenPlansNothing) {
    for (const int size : {0, 1, 32767, 32768, 32769, 3 * 1024 * 1024}) {
        WriteTextFile(FDir / ("src/sub/f" + std::to_string(size)),
                      std::string(static_cast<std::size_t>(size), 'x'));
    }
    WriteTextFile(FDir / "src/a.txt", "first");
    // A fraction of a second that the server cannot keep.
    SetModifiedTime(FDir / "src/a.txt", 1'700'000'001, 700'000'000);
    Project(FDir / "src", FSshd->Address(FDir / "remote"));

    const TCliResult first = Run({"sync", "remote"});
    ASSERT_EQ(first.FStatus, 0) << first.FOut << first.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/a.txt"), "first");
    for (const int size : {0, 1, 32767, 32768, 32769, 3 * 1024 * 1024}) {
        EXPECT_EQ(ReadTextFile(FDir / ("remote/sub/f" + std::to_string(size))).size(),
                  static_cast<std::size_t>(size));
    }
    long nanoseconds = -1;
    EXPECT_EQ(ModifiedSeconds(FDir / "remote/a.txt", &nanoseconds), 1'700'000'001);
    EXPECT_EQ(nanoseconds, 0);
    EXPECT_FALSE(HoldsCopyTemporaries(FDir / "remote"));
    EXPECT_FALSE(HoldsCopyTemporaries(FDir / "remote/sub"));
    // Whole seconds on both sides: nothing to do right after the sync.
    const TCliResult check = Run({"check", "remote"});
    EXPECT_EQ(check.FStatus, 0) << check.FErr;
    EXPECT_EQ(check.FOut, "");

    WriteTextFile(FDir / "src/a.txt", "second");
    SetModifiedTime(FDir / "src/a.txt", 1'700'000'101);
    std::remove((FDir / "src/sub/f1").c_str());
    EXPECT_EQ(Run({"check", "remote"}).FOut, "update\ta.txt\ndelete\tsub/f1\n");
    const TCliResult update = Run({"sync", "remote"});
    EXPECT_EQ(update.FStatus, 0) << update.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "remote/a.txt"), "second");
    EXPECT_FALSE(PathExists(FDir / "remote/sub/f1"));
    EXPECT_EQ(Run({"check", "remote"}).FOut, "");
}

TEST_F(RemoteFolderCliTest, ASyncFromARemoteSourceCopiesItsFiles) {
    WriteTextFile(FDir / "server/a.txt", "from the server");
    WriteTextFile(FDir / "server/deep/b.bin", std::string(100000, 'b'));
    SetModifiedTime(FDir / "server/a.txt", 1'700'000'000);
    Project(FSshd->Address(FDir / "server"), FDir / "local");
    const TCliResult run = Run({"sync", "remote"});
    ASSERT_EQ(run.FStatus, 0) << run.FOut << run.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "local/a.txt"), "from the server");
    EXPECT_EQ(ReadTextFile(FDir / "local/deep/b.bin"), std::string(100000, 'b'));
    EXPECT_EQ(ModifiedSeconds(FDir / "local/a.txt"), 1'700'000'000);
    EXPECT_EQ(Run({"check", "remote"}).FOut, "");
}

TEST_F(RemoteFolderCliTest, AnAddressThatCannotBeReachedOrIsUnsafeIsRefusedWithTheReason) {
    WriteTextFile(FDir / "src/a.txt", "a");
    // Nothing listens on the port: ssh's own words reach the user.
    Project(FDir / "src", "sftp://127.0.0.1:1" + (FDir / "remote"));
    TCliResult run = Run({"sync", "remote"});
    EXPECT_EQ(run.FStatus, 2);
    EXPECT_NE(run.FErr.find("目标文件夹无效"), std::string::npos) << run.FErr;
    EXPECT_NE(run.FErr.find("Connection refused"), std::string::npos) << run.FErr;

    Project("sftp://127.0.0.1:1" + (FDir / "src"), FDir / "local");
    run = Run({"check", "remote"});
    EXPECT_EQ(run.FStatus, 2);
    EXPECT_NE(run.FErr.find("源文件夹无效"), std::string::npos) << run.FErr;

    // Host keys: RemoteFaultsCliTest.

    // A host that ssh would take as an option runs nothing.
    Project(FDir / "src", "sftp://-oProxyCommand=touch%20" + (FDir / "pwned") + "/x");
    run = Run({"sync", "remote"});
    EXPECT_EQ(run.FStatus, 2);
    EXPECT_NE(run.FErr.find("目标文件夹无效"), std::string::npos) << run.FErr;
    EXPECT_FALSE(PathExists(FDir / "pwned"));
}
