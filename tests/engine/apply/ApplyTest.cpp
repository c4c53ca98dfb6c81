#include "engine/apply/Apply.h"
#include "engine/volume/SftpVolume.h"

#include "TempDir.h"
#include "TestSshd.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Lines = TStringList;

// The same rules with every folder on this machine, with the target (and the
// deploy folder) on a server, and with the source on a server.
enum class TRoots { Local, RemoteTarget, RemoteSource };

class ApplyTest : public ::testing::TestWithParam<TRoots> {
protected:
    static void SetUpTestSuite() {
        if (access("/usr/sbin/sshd", X_OK) == 0) {
            SshdDir = new TTempDir();
            Sshd = new TTestSshd(*SshdDir);
        }
    }
    static void TearDownTestSuite() {
        delete Sshd;
        delete SshdDir;
        Sshd = nullptr;
        SshdDir = nullptr;
    }
    void SetUp() override {
        if (GetParam() != TRoots::Local && (Sshd == nullptr || !Sshd->Running())) {
            GTEST_SKIP() << "needs openssh-server";
        }
        MakeFolder(FSource);
        MakeFolder(FTarget);
        FSourceShown = Shown(FSource, GetParam() == TRoots::RemoteSource);
        FTargetShown = Shown(FTarget, GetParam() == TRoots::RemoteTarget);
        FOptions.FSourceRoot = FSourceShown + "/";
        FOptions.FTargetRoot = FTargetShown + "/";
        FOptions.FWriteRoot = FTargetShown + "/";
    }

    // The folder as the engine is given it: its address where it lies on the server.
    static std::string Shown(const std::string& folder, bool remote) {
        if (!remote) {
            return folder;
        }
        const std::string address = Sshd->Address(folder);
        RememberSshCommand(address, Sshd->SshCommand());
        return address;
    }

    TPhaseResult Apply(TApplyPhase phase, const Lines& lines, const TStopTest& stop = {}) {
        return ApplyPhase(phase, lines, FOptions, FLog, SilentProgress(), stop);
    }

    static void MakeReadOnly(const std::string& path) { chmod(path.c_str(), 0444); }

    static TTempDir* SshdDir;
    static TTestSshd* Sshd;
    TTempDir FDir;
    // Where the test reads and writes the files (the server is this machine).
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    // How the engine and its log name them.
    std::string FSourceShown;
    std::string FTargetShown;
    TApplyOptions FOptions;
    TLogBuffer FLog;
};

TTempDir* ApplyTest::SshdDir = nullptr;
TTestSshd* ApplyTest::Sshd = nullptr;

INSTANTIATE_TEST_SUITE_P(Roots, ApplyTest,
                         ::testing::Values(TRoots::Local, TRoots::RemoteTarget, TRoots::RemoteSource),
                         [](const ::testing::TestParamInfo<TRoots>& roots) {
                             return roots.param == TRoots::Local          ? std::string("Local")
                                    : roots.param == TRoots::RemoteTarget ? std::string("RemoteTarget")
                                                                          : std::string("RemoteSource");
                         });

TEST_P(ApplyTest, NewPhaseCreatesFoldersAndFilesAndLogsEachPath) {
    WriteTextFile(FSource + "/img/logo.gif", "gif");
    const TPhaseResult result = Apply(TApplyPhase::New, {"img/", "img/logo.gif", "empty/"});
    EXPECT_EQ(result.FDone, 3);
    EXPECT_EQ(result.FFailed, 0);
    EXPECT_EQ(ReadTextFile(FTarget + "/img/logo.gif"), "gif");
    EXPECT_TRUE(PathExists(FTarget + "/empty"));
    EXPECT_EQ(FLog.Lines(),
              (Lines{"<New>" + FTargetShown + "/img/</New>", "<New>" + FTargetShown + "/img/logo.gif</New>",
                     "<New>" + FTargetShown + "/empty/</New>", "<NewCount>3</NewCount>",
                     "<NewFailCount>0</NewFailCount>"}));
}

TEST_P(ApplyTest, ANewFileWhoseTargetAppearedFailsAndKeepsTheTarget) {
    WriteTextFile(FSource + "/a.txt", "source");
    WriteTextFile(FTarget + "/a.txt", "appeared meanwhile");
    const TPhaseResult result = Apply(TApplyPhase::New, {"a.txt"});
    EXPECT_EQ(result.FFailed, 1);
    EXPECT_EQ(result.FFailedLines, Lines{"a.txt"});
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "appeared meanwhile");
    EXPECT_EQ(FLog.Lines().front(), "<NewFail>" + FTargetShown + "/a.txt</NewFail>");
}

TEST_P(ApplyTest, NewFilesGetTheirMissingParentFolders) {
    WriteTextFile(FSource + "/deep/er/a.txt", "a");
    EXPECT_EQ(Apply(TApplyPhase::New, {"deep/er/a.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/deep/er/a.txt"), "a");
}

TEST_P(ApplyTest, ReadOnlyTargetsAreUpdatedOnlyWhenAllowed) {
    WriteTextFile(FSource + "/a.txt", "new");
    WriteTextFile(FTarget + "/a.txt", "old");
    MakeReadOnly(FTarget + "/a.txt");

    FOptions.FUpdateReadOnly = false;
    EXPECT_EQ(Apply(TApplyPhase::Update, {"a.txt"}).FFailed, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "old");

    FOptions.FUpdateReadOnly = true;
    EXPECT_EQ(Apply(TApplyPhase::Update, {"a.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "new");
}

TEST_P(ApplyTest, ReadOnlyTargetsAreDeletedOnlyWhenAllowed) {
    WriteTextFile(FTarget + "/a.txt", "old");
    MakeReadOnly(FTarget + "/a.txt");
    FOptions.FUpdateReadOnly = false;
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"a.txt"}).FFailed, 1);
    EXPECT_TRUE(PathExists(FTarget + "/a.txt"));
    FOptions.FUpdateReadOnly = true;
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"a.txt"}).FDone, 1);
    EXPECT_FALSE(PathExists(FTarget + "/a.txt"));
}

TEST_P(ApplyTest, ASurplusFolderStillHoldingAFileIsNotRemoved) {
    WriteTextFile(FTarget + "/old/a.txt", "surplus");
    WriteTextFile(FTarget + "/old/keep.tmp", "excluded by the filters");
    const TPhaseResult result = Apply(TApplyPhase::Delete, {"old/a.txt", "old/"});
    EXPECT_EQ(result.FDone, 1);
    EXPECT_EQ(result.FFailedLines, Lines{"old/"});
    EXPECT_TRUE(PathExists(FTarget + "/old/keep.tmp"));
    EXPECT_EQ(FLog.Lines()[1], "<DeleteFail>" + FTargetShown + "/old/</DeleteFail>");
}

TEST_P(ApplyTest, LinesThatLeaveTheRootsFailWithoutTouchingAnything) {
    WriteTextFile(FDir / "outside.txt", "outside");
    WriteTextFile(FSource + "/a.txt", "a");
    for (const TApplyPhase phase : {TApplyPhase::New, TApplyPhase::Update, TApplyPhase::Delete}) {
        const TPhaseResult result =
            Apply(phase, {"../outside.txt", "/etc/passwd", "a/../../outside.txt", "", "../"});
        EXPECT_EQ(result.FDone, 0);
        EXPECT_EQ(result.FFailed, 5);
    }
    EXPECT_EQ(ReadTextFile(FDir / "outside.txt"), "outside");
}

TEST_P(ApplyTest, DeployModeWritesUnderTheDeployFolder) {
    WriteTextFile(FSource + "/sub/a.txt", "a");
    FOptions.FDeployMode = true;
    FOptions.FWriteRoot = Shown(FDir / "deploy", GetParam() == TRoots::RemoteTarget) + "/";
    EXPECT_EQ(Apply(TApplyPhase::Update, {"sub/a.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FDir / "deploy/sub/a.txt"), "a");
    EXPECT_FALSE(PathExists(FTarget + "/sub/a.txt"));
}

TEST_P(ApplyTest, AStopEndsThePhaseButStillLogsItsCounts) {
    WriteTextFile(FSource + "/a", "a");
    WriteTextFile(FSource + "/b", "b");
    // Asked before each item and, remotely, within each copy: the stop comes once "a" is done.
    const TPhaseResult result =
        Apply(TApplyPhase::New, {"a", "b"}, [&] { return PathExists(FTarget + "/a"); });
    EXPECT_TRUE(result.FStopped);
    EXPECT_EQ(result.FDone, 1);
    EXPECT_FALSE(PathExists(FTarget + "/b"));
    EXPECT_EQ(FLog.Lines().back(), "<NewFailCount>0</NewFailCount>");
}

TEST_P(ApplyTest, AFailedItemDoesNotEndThePhase) {
    WriteTextFile(FSource + "/b", "b");
    const TPhaseResult result = Apply(TApplyPhase::Update, {"missing", "b"});
    EXPECT_EQ(result.FFailedLines, Lines{"missing"});
    EXPECT_EQ(result.FDone, 1);
}

} // namespace
