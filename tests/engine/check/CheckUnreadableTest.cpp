// What a check makes of folders and files it cannot read: they are errors,
// never taken for empty or absent, and nothing is planned on them.

#include "PlanText.h"
#include "Unprivileged.h"
#include "engine/check/Check.h"
#include "engine/index/FolderIndex.h"
#include "engine/project/ProjectRecord.h"
#include "engine/run/BackgroundRun.h"

#include "FaultyVolume.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

class CheckUnreadableTest : public ::testing::Test {
protected:
    CheckUnreadableTest() {
        OpenToEveryone(FDir.Path());
        MakeFolder(FSource);
        MakeFolder(FTarget);
        FSettings.FSourceRoot = FSource + "/";
        FSettings.FTargetRoot = FTarget + "/";
        FSettings.FDeletePass = true;
    }

    // A file on both sides with the same contents, the target's copy older.
    void Pair(const std::string& relative) {
        WriteTextFile(FSource + "/" + relative, "s");
        WriteTextFile(FTarget + "/" + relative, "t");
        SetModifiedTime(FSource + "/" + relative, 1'100'000'000);
        SetModifiedTime(FTarget + "/" + relative, 1'000'000'000);
    }

    // Fails the listing of folders on both sides with the errno fault(folder) gives.
    void FailListings(const std::function<int(const std::string&)>& fault) {
        for (auto* volume : {&FSettings.FSourceVolume, &FSettings.FTargetVolume}) {
            auto faulty = std::make_shared<TFaultyVolume>(
                volume == &FSettings.FSourceVolume ? FSettings.FSourceRoot : FSettings.FTargetRoot);
            faulty->FListingFault = fault;
            *volume = faulty;
        }
    }

    // The plan of a check run without privileges, as text.
    std::string UnprivilegedPlan() {
        return RunUnprivileged([&] {
            TPlan plan;
            if (!RunCheck(FSettings, plan, SilentProgress())) {
                return std::string("stopped");
            }
            return PlanText(plan);
        });
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TCheckSettings FSettings;
};

TEST_F(CheckUnreadableTest, AnUnreadableSourceFolderIsAnErrorAndItsTargetCopiesStay) {
    if (!PermissionsCanBind()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    Pair("private/a.txt");
    Pair("private/deeper/b.txt");
    WriteTextFile(FTarget + "/surplus.txt", "x");
    chmod((FSource + "/private").c_str(), 0);
    EXPECT_EQ(UnprivilegedPlan(), "delete\tsurplus.txt\n"
                                  "error\t" +
                                      FSource + "/private/\tPermission denied\n");
}

TEST_F(CheckUnreadableTest, AnUnreadableTargetFolderIsAnErrorAndNotPlannedAsNew) {
    if (!PermissionsCanBind()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    Pair("private/a.txt");
    WriteTextFile(FSource + "/fresh.txt", "f");
    chmod((FTarget + "/private").c_str(), 0);
    FSettings.FDeletePass = false;
    EXPECT_EQ(UnprivilegedPlan(), "new\tfresh.txt\n"
                                  "error\t" +
                                      FTarget + "/private/a.txt\tPermission denied\n");
}

TEST_F(CheckUnreadableTest, WithTheEqualSizeRuleAFileThatCannotBeOpenedIsAnError) {
    if (!PermissionsCanBind()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    Pair("locked.txt");
    Pair("open.txt");
    chmod((FSource + "/locked.txt").c_str(), 0);
    FSettings.FCheckSize = true;
    FSettings.FDeletePass = false;
    EXPECT_EQ(UnprivilegedPlan(), "update\topen.txt\n"
                                  "error\t" +
                                      FSource + "/locked.txt\tPermission denied\n");
}

TEST_F(CheckUnreadableTest, AStoredProjectWhoseSourceCannotBeListedIsRejected) {
    if (!PermissionsCanBind()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    Pair("a.txt");
    TIniFile ini(FDir / "pairwell.ini");
    ini.WriteString("project_p", "source", FSource);
    ini.WriteString("project_p", "target", FTarget);
    ini.WriteString("project_p", "FileDelete", "True");
    chmod(ini.FileName().c_str(), 0644);
    chmod(FSource.c_str(), 0300); // may be entered, not listed
    const std::string answer = RunUnprivileged([&] {
        TBackgroundRun run;
        run.FProjectName = "p";
        const bool checked = CheckProject(ini, run, SilentProgress());
        return (checked ? "checked\n" : "rejected\n") + run.FErrorText + "\n" + run.FErrorDetail + "\n" +
               PlanText(run.FPlan);
    });
    EXPECT_EQ(answer, "rejected\n源文件夹无效\n" + FSource + "/: Permission denied\n");
}

// Errors that permissions cannot make (an I/O error, a stale handle) are
// injected where the folder is opened for listing.
TEST_F(CheckUnreadableTest, AListingThatFailsForAnyReasonButAbsenceIsAnError) {
    Pair("shaky/a.txt");
    Pair("shaky/b.txt");
    WriteTextFile(FTarget + "/gone/old.txt", "x");
    FailListings([&](const std::string& folder) {
        return folder == FSource + "/shaky/" ? EIO : folder == FTarget + "/gone/" ? ESTALE : 0;
    });
    TPlan plan;
    ASSERT_TRUE(RunCheck(FSettings, plan, SilentProgress()));
    EXPECT_EQ(PlanText(plan), "error\t" + FSource + "/shaky/\tInput/output error\n" + "error\t" + FTarget +
                                  "/gone/\tStale file handle\n");
}

TEST_F(CheckUnreadableTest, AMissingTargetIsNoErrorButAnUnlistableSourceRootIs) {
    WriteTextFile(FSource + "/a.txt", "a");
    FSettings.FTargetRoot = FDir / "missing/";
    TPlan plan;
    ASSERT_TRUE(RunCheck(FSettings, plan, SilentProgress()));
    EXPECT_EQ(PlanText(plan), "new\ta.txt\n");

    WriteTextFile(FTarget + "/b.txt", "b");
    FSettings.FTargetRoot = FTarget + "/";
    FailListings([&](const std::string& folder) { return folder == FSource + "/" ? EIO : 0; });
    ASSERT_TRUE(RunCheck(FSettings, plan, SilentProgress()));
    EXPECT_EQ(PlanText(plan), "error\t" + FSource + "/\tInput/output error\n");
}

} // namespace
