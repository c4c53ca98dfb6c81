#include "engine/run/BackgroundRun.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

class BackgroundRunTest : public ::testing::Test {
protected:
    BackgroundRunTest() : FIni(FDir / "pairwell.ini") {
        FIni.WriteString("project_P", "source", FDir / "src");
        FIni.WriteString("project_P", "target", FDir / "dst");
        WriteTextFile(FDir / "src/a.txt", "a");
        WriteTextFile(FDir / "src/b.txt", "b");
        MakeFolder(FDir / "dst");
        FRun.FProjectName = "P";
    }

    TTempDir FDir;
    TIniFile FIni;
    TBackgroundRun FRun;
};

TEST_F(BackgroundRunTest, WithoutAStopTestTheRunCompletes) {
    ASSERT_TRUE(CheckProject(FIni, FRun, SilentProgress()));
    EXPECT_EQ(FRun.FPlan.FNewList.size(), 2u);
    ASSERT_TRUE(ApplyPlan(FIni, FRun, SilentProgress()));
    EXPECT_EQ(ReadTextFile(FDir / "dst/b.txt"), "b");
}

TEST_F(BackgroundRunTest, AStoppedCheckOrApplyReturnsFalseWithoutAnErrorText) {
    const TStopTest stopNow = [] { return true; };
    EXPECT_FALSE(CheckProject(FIni, FRun, SilentProgress(), stopNow));
    EXPECT_TRUE(FRun.FErrorText.empty());

    ASSERT_TRUE(CheckProject(FIni, FRun, SilentProgress()));
    // The stop comes after the first item: the phase ends, the rest is not touched.
    FRun.FParallelCopies = 1; // one copy at a time, so that the first item is known
    int polls = 0;
    const TStopTest stopAfterOne = [&] { return ++polls > 1; };
    EXPECT_FALSE(ApplyPlan(FIni, FRun, SilentProgress(), stopAfterOne));
    EXPECT_TRUE(FRun.FErrorText.empty());
    EXPECT_EQ(FRun.FNewResult.FDone, 1);
    EXPECT_NE(PathExists(FDir / "dst/a.txt"), PathExists(FDir / "dst/b.txt"));
}

TEST_F(BackgroundRunTest, RelativeFoldersAreTakenFromTheConfigurationFilesFolder) {
    FIni.WriteString("project_P", "source", "src");
    FIni.WriteString("project_P", "target", " dst/sub ");
    ASSERT_TRUE(CheckProject(FIni, FRun, SilentProgress())) << ErrorMessage(FRun);
    EXPECT_EQ(FRun.FSourceRoot, FDir / "src/");
    EXPECT_EQ(FRun.FTargetRoot, FDir / "dst/sub/");
    ASSERT_TRUE(ApplyPlan(FIni, FRun, SilentProgress()));
    EXPECT_EQ(ReadTextFile(FDir / "dst/sub/a.txt"), "a");
}

TEST_F(BackgroundRunTest, RejectionsKeepTheLoggedTextAndNameWhatAndWhere) {
    const auto rejection = [&](const std::string& name) {
        TBackgroundRun run;
        run.FProjectName = name;
        EXPECT_FALSE(CheckProject(FIni, run, SilentProgress()));
        return ErrorMessage(run);
    };
    EXPECT_EQ(rejection("Nope"), "源文件夹无效: no project \"Nope\" in " + FIni.FileName());

    FIni.WriteString("project_P", "source", FDir / "src/a.txt");
    EXPECT_EQ(rejection("P"), "源文件夹无效: " + FDir / "src/a.txt: not a folder");
    FIni.WriteString("project_P", "source", FDir / "gone");
    EXPECT_EQ(rejection("P"), "源文件夹无效: " + FDir / "gone: does not exist");

    FIni.WriteString("project_P", "source", FDir / "src");
    FIni.WriteString("project_P", "target", "  ");
    TBackgroundRun run;
    run.FProjectName = "P";
    EXPECT_FALSE(CheckProject(FIni, run, SilentProgress()));
    EXPECT_EQ(run.FErrorText, "目标文件夹无效");
    EXPECT_EQ(run.FErrorDetail, "project \"P\" has no target folder");
}

TEST_F(BackgroundRunTest, TheApplyUsesTheSettingsTheCheckRead) {
    WriteTextFile(FDir / "dst/surplus.txt", "s");
    FIni.WriteString("project_P", "FileDelete", "True");
    ASSERT_TRUE(CheckProject(FIni, FRun, SilentProgress()));
    FIni.WriteString("project_P", "FileDelete", "False"); // saved between check and apply
    ASSERT_TRUE(ApplyPlan(FIni, FRun, SilentProgress()));
    EXPECT_FALSE(PathExists(FDir / "dst/surplus.txt"));
}

} // namespace
