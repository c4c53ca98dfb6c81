// A stored project's settings reach its check and its apply, and the apply's
// phases leave the disk as new, then update, then delete would.

#include "PlanText.h"
#include "engine/project/ProjectRecord.h"
#include "engine/run/BackgroundRun.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>

namespace {

class StoredProjectTest : public ::testing::Test {
protected:
    StoredProjectTest() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
        Set(ProjectKey::Source, FSource);
        Set(ProjectKey::Target, FTarget);
    }

    void Set(const std::string& key, const std::string& value) { FIni.WriteString("project_p", key, value); }

    // A file on both sides, the target's copy older.
    void Pair(const std::string& relative, const std::string& sourceText = "s",
              const std::string& targetText = "t") {
        WriteTextFile(FSource + "/" + relative, sourceText);
        WriteTextFile(FTarget + "/" + relative, targetText);
        SetModifiedTime(FSource + "/" + relative, 1'100'000'000);
        SetModifiedTime(FTarget + "/" + relative, 1'000'000'000);
    }

    std::string CheckedPlan() {
        TBackgroundRun run;
        run.FProjectName = "p";
        EXPECT_TRUE(CheckProject(FIni, run, SilentProgress())) << run.FErrorText;
        return PlanText(run.FPlan);
    }

    bool Sync() {
        TBackgroundRun run;
        run.FProjectName = "p";
        return CheckProject(FIni, run, SilentProgress()) && ApplyPlan(FIni, run, SilentProgress());
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TIniFile FIni{FDir / "pairwell.ini"};
};

TEST_F(StoredProjectTest, EachStoredFilterAndSwitchChangesThePlan) {
    Pair("keep/a.txt");
    Pair("keep/b.tmp");
    Pair("skip/c.txt");
    Pair("keep/longer.txt", "longer", "t");
    EXPECT_EQ(CheckedPlan(),
              "update\tkeep/a.txt\nupdate\tkeep/b.tmp\nupdate\tkeep/longer.txt\nupdate\tskip/c.txt\n");

    Set(ProjectKey::FileTypeExcept, "tmp");
    EXPECT_EQ(CheckedPlan(), "update\tkeep/a.txt\nupdate\tkeep/longer.txt\nupdate\tskip/c.txt\n");
    Set(ProjectKey::DirInclude, "/keep/");
    EXPECT_EQ(CheckedPlan(), "update\tkeep/a.txt\nupdate\tkeep/longer.txt\n");
    Set(ProjectKey::CheckSize, "True");
    EXPECT_EQ(CheckedPlan(), "update\tkeep/a.txt\n");
}

// POSIX seconds of a local wall-clock time.
std::int64_t LocalSeconds(int year, int month, int day, int hour) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&fields));
}

TEST_F(StoredProjectTest, TheStoredThresholdCountsFromMidnightOfItsDay) {
    WriteTextFile(FSource + "/morning.txt", "m");
    SetModifiedTime(FSource + "/morning.txt", LocalSeconds(2004, 8, 13, 9));
    WriteTextFile(FSource + "/day-before.txt", "d");
    SetModifiedTime(FSource + "/day-before.txt", LocalSeconds(2004, 8, 12, 23));
    Set(ProjectKey::CheckEditTime, "True");
    Set(ProjectKey::Time1, "2004-08-13 15:00");
    EXPECT_EQ(CheckedPlan(), "new\tmorning.txt\n");
}

TEST_F(StoredProjectTest, ReadOnlyTargetsAreUpdatedUnlessTheProjectSaysOtherwise) {
    Pair("a.txt", "new", "old");
    chmod((FTarget + "/a.txt").c_str(), 0444);
    ASSERT_TRUE(Sync());
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "new");

    Pair("b.txt", "new", "old");
    chmod((FTarget + "/b.txt").c_str(), 0444);
    Set(ProjectKey::UpdateReadOnly, "False");
    ASSERT_TRUE(Sync());
    EXPECT_EQ(ReadTextFile(FTarget + "/b.txt"), "old");
}

TEST_F(StoredProjectTest, PhasesRunNewThenUpdateThenDeleteOnDisk) {
    // Lines that only come out right in that order: the update needs the
    // folder the new phase makes, and what the delete phase removes must not
    // be made again by an earlier phase running late.
    WriteTextFile(FSource + "/sub/a.txt", "a");
    WriteTextFile(FSource + "/made.txt", "m");
    WriteTextFile(FSource + "/changed.txt", "c");
    WriteTextFile(FTarget + "/changed.txt", "old");
    Set(ProjectKey::FileDelete, "True");
    TBackgroundRun run;
    run.FProjectName = "p";
    ASSERT_TRUE(CheckProject(FIni, run, SilentProgress()));
    run.FPlan.FNewList = {"sub/", "made.txt"};
    run.FPlan.FUpdateList = {"sub/a.txt", "changed.txt"};
    run.FPlan.FDeleteList = {"made.txt", "changed.txt"};
    ASSERT_TRUE(ApplyPlan(FIni, run, SilentProgress()));
    EXPECT_EQ(ReadTextFile(FTarget + "/sub/a.txt"), "a");
    EXPECT_FALSE(PathExists(FTarget + "/made.txt"));
    EXPECT_FALSE(PathExists(FTarget + "/changed.txt"));
    EXPECT_EQ(run.FNewResult.FFailed + run.FUpdateResult.FFailed + run.FDeleteResult.FFailed, 0);
}

TEST_F(StoredProjectTest, ADeployFolderInsideTheSourceIsNotDeployedIntoItself) {
    WriteTextFile(FSource + "/a.txt", "a");
    Set(ProjectKey::UpdateToOther, "True");
    Set(ProjectKey::Deploy, FSource + "/pub");
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(Sync());
    }
    EXPECT_EQ(ReadTextFile(FSource + "/pub/a.txt"), "a");
    EXPECT_FALSE(PathExists(FSource + "/pub/pub"));
}

} // namespace
