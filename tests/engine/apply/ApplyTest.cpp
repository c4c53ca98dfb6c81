#include "engine/apply/Apply.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Lines = TStringList;

class ApplyTest : public ::testing::Test {
protected:
    ApplyTest() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
        FOptions.FSourceRoot = FSource + "/";
        FOptions.FTargetRoot = FTarget + "/";
        FOptions.FWriteRoot = FTarget + "/";
    }

    TPhaseResult Apply(TApplyPhase phase, const Lines& lines, const TStopTest& stop = {}) {
        return ApplyPhase(phase, lines, FOptions, FLog, SilentProgress(), stop);
    }

    static void MakeReadOnly(const std::string& path) { chmod(path.c_str(), 0444); }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TApplyOptions FOptions;
    TLogBuffer FLog;
};

TEST_F(ApplyTest, NewPhaseCreatesFoldersAndFilesAndLogsEachPath) {
    WriteTextFile(FSource + "/img/logo.gif", "gif");
    const TPhaseResult result = Apply(TApplyPhase::New, {"img/", "img/logo.gif", "empty/"});
    EXPECT_EQ(result.FDone, 3);
    EXPECT_EQ(result.FFailed, 0);
    EXPECT_EQ(ReadTextFile(FTarget + "/img/logo.gif"), "gif");
    EXPECT_TRUE(PathExists(FTarget + "/empty"));
    EXPECT_EQ(FLog.Lines(),
              (Lines{"<New>" + FTarget + "/img/</New>", "<New>" + FTarget + "/img/logo.gif</New>",
                     "<New>" + FTarget + "/empty/</New>", "<NewCount>3</NewCount>",
                     "<NewFailCount>0</NewFailCount>"}));
}

TEST_F(ApplyTest, ANewFileWhoseTargetAppearedFailsAndKeepsTheTarget) {
    WriteTextFile(FSource + "/a.txt", "source");
    WriteTextFile(FTarget + "/a.txt", "appeared meanwhile");
    const TPhaseResult result = Apply(TApplyPhase::New, {"a.txt"});
    EXPECT_EQ(result.FFailed, 1);
    EXPECT_EQ(result.FFailedLines, Lines{"a.txt"});
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "appeared meanwhile");
    EXPECT_EQ(FLog.Lines().front(), "<NewFail>" + FTarget + "/a.txt</NewFail>");
}

TEST_F(ApplyTest, NewFilesGetTheirMissingParentFolders) {
    WriteTextFile(FSource + "/deep/er/a.txt", "a");
    EXPECT_EQ(Apply(TApplyPhase::New, {"deep/er/a.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/deep/er/a.txt"), "a");
}

TEST_F(ApplyTest, ReadOnlyTargetsAreUpdatedOnlyWhenAllowed) {
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

TEST_F(ApplyTest, ReadOnlyTargetsAreDeletedOnlyWhenAllowed) {
    WriteTextFile(FTarget + "/a.txt", "old");
    MakeReadOnly(FTarget + "/a.txt");
    FOptions.FUpdateReadOnly = false;
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"a.txt"}).FFailed, 1);
    EXPECT_TRUE(PathExists(FTarget + "/a.txt"));
    FOptions.FUpdateReadOnly = true;
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"a.txt"}).FDone, 1);
    EXPECT_FALSE(PathExists(FTarget + "/a.txt"));
}

TEST_F(ApplyTest, ASurplusFolderStillHoldingAFileIsNotRemoved) {
    WriteTextFile(FTarget + "/old/a.txt", "surplus");
    WriteTextFile(FTarget + "/old/keep.tmp", "excluded by the filters");
    const TPhaseResult result = Apply(TApplyPhase::Delete, {"old/a.txt", "old/"});
    EXPECT_EQ(result.FDone, 1);
    EXPECT_EQ(result.FFailedLines, Lines{"old/"});
    EXPECT_TRUE(PathExists(FTarget + "/old/keep.tmp"));
    EXPECT_EQ(FLog.Lines()[1], "<DeleteFail>" + FTarget + "/old/</DeleteFail>");
}

TEST_F(ApplyTest, LinesThatLeaveTheRootsFailWithoutTouchingAnything) {
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

TEST_F(ApplyTest, DeployModeWritesUnderTheDeployFolder) {
    WriteTextFile(FSource + "/sub/a.txt", "a");
    FOptions.FDeployMode = true;
    FOptions.FWriteRoot = FDir / "deploy/";
    EXPECT_EQ(Apply(TApplyPhase::Update, {"sub/a.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FDir / "deploy/sub/a.txt"), "a");
    EXPECT_FALSE(PathExists(FTarget + "/sub/a.txt"));
}

TEST_F(ApplyTest, AStopEndsThePhaseButStillLogsItsCounts) {
    WriteTextFile(FSource + "/a", "a");
    WriteTextFile(FSource + "/b", "b");
    int polls = 0;
    const TPhaseResult result = Apply(TApplyPhase::New, {"a", "b"}, [&] { return ++polls > 1; });
    EXPECT_TRUE(result.FStopped);
    EXPECT_EQ(result.FDone, 1);
    EXPECT_FALSE(PathExists(FTarget + "/b"));
    EXPECT_EQ(FLog.Lines().back(), "<NewFailCount>0</NewFailCount>");
}

TEST_F(ApplyTest, AFailedItemDoesNotEndThePhase) {
    WriteTextFile(FSource + "/b", "b");
    const TPhaseResult result = Apply(TApplyPhase::Update, {"missing", "b"});
    EXPECT_EQ(result.FFailedLines, Lines{"missing"});
    EXPECT_EQ(result.FDone, 1);
}

} // namespace
