#include "engine/check/Check.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace {

// POSIX seconds of a local wall-clock time.
std::int64_t LocalSeconds(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&fields));
}

class CheckTest : public ::testing::Test {
protected:
    CheckTest() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
        FSettings.FSourceRoot = FSource + "/";
        FSettings.FTargetRoot = FTarget + "/";
    }

    // A file on both sides, the target's time offset from the source's.
    void Pair(const std::string& relative, std::int64_t targetOffsetSeconds,
              const std::string& sourceText = "s", const std::string& targetText = "t") {
        WriteTextFile(FSource + "/" + relative, sourceText);
        WriteTextFile(FTarget + "/" + relative, targetText);
        SetModifiedTime(FSource + "/" + relative, 1'100'000'000);
        SetModifiedTime(FTarget + "/" + relative, 1'100'000'000 + targetOffsetSeconds);
    }

    TPlan Check() {
        TPlan plan;
        EXPECT_TRUE(RunCheck(FSettings, plan, SilentProgress()));
        return plan;
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TCheckSettings FSettings;
};

using Lines = TStringList;

TEST_F(CheckTest, MissingTargetFilesAreNewAndOlderOnesAreUpdated) {
    WriteTextFile(FSource + "/a.txt", "a");
    Pair("older.txt", -60);
    Pair("same.txt", 0);
    Pair("newer.txt", 60);
    const TPlan plan = Check();
    EXPECT_EQ(plan.FNewList, Lines{"a.txt"});
    EXPECT_EQ(plan.FUpdateList, Lines{"older.txt"});
    EXPECT_TRUE(plan.FDeleteList.empty());
}

TEST_F(CheckTest, TimeModesSelectWhichExistingFilesAreUpdated) {
    Pair("older.txt", -60);
    Pair("same.txt", 0);
    Pair("newer.txt", 60);
    const auto updatesFor = [&](int mode) {
        FSettings.FTimeMode = mode;
        Lines lines = Check().FUpdateList;
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_EQ(updatesFor(0), (Lines{"older.txt"}));
    EXPECT_EQ(updatesFor(1), (Lines{"newer.txt"}));
    EXPECT_EQ(updatesFor(2), (Lines{"newer.txt", "older.txt"}));
    EXPECT_EQ(updatesFor(3), (Lines{"newer.txt", "older.txt", "same.txt"}));
    EXPECT_EQ(updatesFor(7), (Lines{"newer.txt", "older.txt", "same.txt"}));
    EXPECT_EQ(updatesFor(-1), (Lines{"newer.txt", "older.txt", "same.txt"}));
}

TEST_F(CheckTest, TimesWithinOneMillisecondAreEqual) {
    Pair("a.txt", 0);
    SetModifiedTime(FSource + "/a.txt", 1'100'000'000, 500'100);
    SetModifiedTime(FTarget + "/a.txt", 1'100'000'000, 900'900);
    FSettings.FTimeMode = 2;
    EXPECT_TRUE(Check().FUpdateList.empty());
    SetModifiedTime(FTarget + "/a.txt", 1'100'000'000, 1'000'000);
    EXPECT_EQ(Check().FUpdateList, Lines{"a.txt"});
}

TEST_F(CheckTest, EqualSizeRuleKeepsOnlyFilesOfEqualSize) {
    Pair("same-size.txt", -60, "abc", "xyz");
    Pair("other-size.txt", -60, "abc", "wxyz");
    FSettings.FCheckSize = true;
    EXPECT_EQ(Check().FUpdateList, Lines{"same-size.txt"});
}

TEST_F(CheckTest, DateThresholdStartsAtLocalMidnightAndAppliesToNewFilesToo) {
    WriteTextFile(FSource + "/at-midnight.txt", "a");
    WriteTextFile(FSource + "/just-before.txt", "b");
    SetModifiedTime(FSource + "/at-midnight.txt", LocalSeconds(2004, 8, 13, 0, 0, 0));
    SetModifiedTime(FSource + "/just-before.txt", LocalSeconds(2004, 8, 12, 23, 59, 59), 999'000'000);
    FSettings.FCheckEditTime = true;
    FSettings.FThreshold = EncodeDateTime({2004, 8, 13, 0, 0, 0, 0});
    EXPECT_EQ(Check().FNewList, Lines{"at-midnight.txt"});
    FSettings.FCheckEditTime = false;
    EXPECT_EQ(Check().FNewList.size(), 2u);
}

TEST_F(CheckTest, FoldersArePlannedBeforeTheirContentsAndDeletedAfterThem) {
    WriteTextFile(FSource + "/img/logo.gif", "g");
    WriteTextFile(FTarget + "/old/a.txt", "a");
    MakeFolder(FSource + "/empty");
    FSettings.FIncludeFolders = true;
    FSettings.FDeletePass = true;
    TPlan plan = Check();
    std::sort(plan.FNewList.begin(), plan.FNewList.end());
    EXPECT_EQ(plan.FNewList, (Lines{"empty/", "img/", "img/logo.gif"}));
    EXPECT_EQ(plan.FDeleteList, (Lines{"old/a.txt", "old/"}));
}

TEST_F(CheckTest, WithoutFolderEntriesEmptyFoldersAreNotPlanned) {
    MakeFolder(FSource + "/empty");
    WriteTextFile(FTarget + "/old/a.txt", "a");
    FSettings.FDeletePass = true;
    const TPlan plan = Check();
    EXPECT_TRUE(plan.FNewList.empty());
    EXPECT_EQ(plan.FDeleteList, Lines{"old/a.txt"});
}

TEST_F(CheckTest, AFileFacingAFolderOfTheSameNameIsNewAndSurplus) {
    WriteTextFile(FSource + "/x", "file");
    MakeFolder(FTarget + "/x");
    WriteTextFile(FSource + "/y/inner.txt", "folder");
    WriteTextFile(FTarget + "/y", "file");
    FSettings.FIncludeFolders = true;
    FSettings.FDeletePass = true;
    TPlan plan = Check();
    std::sort(plan.FNewList.begin(), plan.FNewList.end());
    std::sort(plan.FDeleteList.begin(), plan.FDeleteList.end());
    EXPECT_EQ(plan.FNewList, (Lines{"x", "y/", "y/inner.txt"}));
    EXPECT_EQ(plan.FDeleteList, (Lines{"x/", "y"}));
}

TEST_F(CheckTest, DeletePassAppliesTheSameFilters) {
    WriteTextFile(FTarget + "/keep.tmp", "excluded type");
    WriteTextFile(FTarget + "/bak/old.txt", "excluded folder");
    WriteTextFile(FTarget + "/gone.txt", "surplus");
    FSettings.FExcludeTypes = "tmp";
    FSettings.FExcludePaths = "/bak/";
    FSettings.FDeletePass = true;
    EXPECT_EQ(Check().FDeleteList, Lines{"gone.txt"});
}

TEST_F(CheckTest, MissingTargetFolderPutsTheWholeSourceInTheNewList) {
    WriteTextFile(FSource + "/a/b.txt", "b");
    FSettings.FTargetRoot = FDir / "nowhere/";
    FSettings.FDeletePass = true;
    const TPlan plan = Check();
    EXPECT_EQ(plan.FNewList, Lines{"a/b.txt"});
    EXPECT_TRUE(plan.FDeleteList.empty());
}

TEST_F(CheckTest, ATargetInsideTheSourceIsNotCopiedIntoItself) {
    WriteTextFile(FSource + "/a.txt", "a");
    WriteTextFile(FSource + "/backup/old.txt", "an earlier copy");
    FSettings.FTargetRoot = FSource + "/backup/";
    FSettings.FIncludeFolders = true;
    EXPECT_EQ(Check().FNewList, Lines{"a.txt"});
}

TEST_F(CheckTest, ASourceInsideTheTargetIsNeverPlannedForDeletion) {
    WriteTextFile(FTarget + "/src/a.txt", "the source itself");
    WriteTextFile(FTarget + "/other.txt", "surplus");
    FSettings.FSourceRoot = FTarget + "/src/";
    FSettings.FIncludeFolders = true;
    FSettings.FDeletePass = true;
    EXPECT_EQ(Check().FDeleteList, Lines{"other.txt"});
}

TEST_F(CheckTest, ASourceFileGoneBeforeItsComparisonIsNotListed) {
    WriteTextFile(FSource + "/gone.txt", "g");
    FSettings.FSourceRoot = FSource + "/";
    EXPECT_EQ(ClassifySourceEntry(FSource + "/gone.txt", FSettings), TSourceVerdict::New);
    std::remove((FSource + "/gone.txt").c_str());
    EXPECT_EQ(ClassifySourceEntry(FSource + "/gone.txt", FSettings), TSourceVerdict::Skip);
}

TEST_F(CheckTest, AStopDuringTheSourcePassLeavesNoDeleteList) {
    for (int i = 0; i < 20; ++i) {
        WriteTextFile(FSource + "/f" + std::to_string(i), "x");
    }
    WriteTextFile(FTarget + "/surplus", "x");
    FSettings.FDeletePass = true;
    int polls = 0;
    TPlan plan;
    EXPECT_FALSE(RunCheck(FSettings, plan, SilentProgress(), [&] { return ++polls > 6; }));
    EXPECT_GT(plan.FNewList.size(), 0u);
    EXPECT_LT(plan.FNewList.size(), 20u);
    EXPECT_TRUE(plan.FDeleteList.empty());
}

TEST_F(CheckTest, AStopAlreadySetGivesAnEmptyPlan) {
    WriteTextFile(FSource + "/a.txt", "a");
    TPlan plan;
    RunCheck(FSettings, plan, SilentProgress(), [] { return true; });
    EXPECT_TRUE(plan.FNewList.empty());
}

// Records what a check shows, to see that every entry is reported.
class TRecordingProgress : public TProgressSink {
public:
    void ShowStatus(const std::string& text) override { FStatuses.push_back(text); }
    void ResetProgress(std::size_t max) override { FMaxima.push_back(max); }
    void ShowItem(const std::string& prefix, const std::string& path) override {
        FItems.push_back(prefix + path);
    }
    Lines FStatuses, FItems;
    std::vector<std::size_t> FMaxima;
};

TEST_F(CheckTest, ProgressShowsBothIndexPassesAndEveryEntry) {
    WriteTextFile(FSource + "/a.txt", "a");
    WriteTextFile(FTarget + "/b.txt", "b");
    FSettings.FDeletePass = true;
    TRecordingProgress progress;
    TPlan plan;
    ASSERT_TRUE(RunCheck(FSettings, plan, progress));
    EXPECT_EQ(progress.FStatuses, (Lines{"生成源文件索引...", "生成更多目标文件索引..."}));
    EXPECT_EQ(progress.FItems, (Lines{"检查: " + FSource + "/a.txt", "检查: " + FTarget + "/b.txt"}));
    EXPECT_EQ(progress.FMaxima, (std::vector<std::size_t>{1, 1}));
}

} // namespace
