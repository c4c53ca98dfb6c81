#include "engine/BackgroundRun.h"

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
    int polls = 0;
    const TStopTest stopAfterOne = [&] { return ++polls > 1; };
    EXPECT_FALSE(ApplyPlan(FIni, FRun, SilentProgress(), stopAfterOne));
    EXPECT_TRUE(FRun.FErrorText.empty());
    EXPECT_EQ(FRun.FNewResult.FDone, 1);
    EXPECT_NE(PathExists(FDir / "dst/a.txt"), PathExists(FDir / "dst/b.txt"));
}

} // namespace
