// An apply writes and deletes only below its root: a symbolic link where the
// plan expects a folder fails the item, and every failed item says why.

#include "engine/apply/Apply.h"
#include "engine/volume/CopyFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = TStringList;

class ApplyBelowRootTest : public ::testing::Test {
protected:
    ApplyBelowRootTest() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
        MakeFolder(FOutside);
        FOptions.FSourceRoot = FSource + "/";
        FOptions.FTargetRoot = FTarget + "/";
        FOptions.FWriteRoot = FTarget + "/";
    }

    TPhaseResult Apply(TApplyPhase phase, const Lines& lines) {
        return ApplyPhase(phase, lines, FOptions, FLog, SilentProgress());
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    std::string FOutside = FDir / "outside";
    TApplyOptions FOptions;
    TLogBuffer FLog;
};

const std::string LinkInTheWay = "a symbolic link stands where a folder was expected";

TEST_F(ApplyBelowRootTest, NoPhaseWritesOrDeletesThroughALinkInTheTarget) {
    ASSERT_EQ(symlink(FOutside.c_str(), (FTarget + "/sub").c_str()), 0);
    WriteTextFile(FSource + "/sub/x.txt", "new");
    WriteTextFile(FSource + "/sub/kept.txt", "new");
    WriteTextFile(FOutside + "/kept.txt", "outside");
    WriteTextFile(FOutside + "/y.txt", "outside");

    const TPhaseResult created = Apply(TApplyPhase::New, {"sub/", "sub/x.txt", "sub/deeper/"});
    const TPhaseResult updated = Apply(TApplyPhase::Update, {"sub/kept.txt"});
    const TPhaseResult deleted = Apply(TApplyPhase::Delete, {"sub/y.txt", "sub/kept.txt"});

    EXPECT_EQ(created.FFailedLines, (Lines{"sub/", "sub/x.txt", "sub/deeper/"}));
    EXPECT_EQ(updated.FFailed, 1);
    EXPECT_EQ(deleted.FFailed, 2);
    EXPECT_FALSE(PathExists(FOutside + "/x.txt"));
    EXPECT_FALSE(PathExists(FOutside + "/deeper"));
    EXPECT_EQ(ReadTextFile(FOutside + "/kept.txt"), "outside");
    EXPECT_EQ(ReadTextFile(FOutside + "/y.txt"), "outside");
    ASSERT_EQ(created.FFailures.size(), 3u);
    EXPECT_EQ(created.FFailures[0].FPath, FTarget + "/sub/");
    for (const TPhaseResult* result : {&created, &updated, &deleted}) {
        for (const TItemFailure& failure : result->FFailures) {
            EXPECT_EQ(failure.FReason, LinkInTheWay) << failure.FPath;
        }
    }
}

TEST_F(ApplyBelowRootTest, ALinkInTheDeployFolderIsNotFollowedEither) {
    const std::string deploy = FDir / "deploy";
    MakeFolder(deploy + "/a");
    ASSERT_EQ(symlink(FOutside.c_str(), (deploy + "/a/b").c_str()), 0);
    WriteTextFile(FSource + "/a/b/c.txt", "new");
    FOptions.FDeployMode = true;
    FOptions.FWriteRoot = deploy + "/";
    const TPhaseResult result = Apply(TApplyPhase::Update, {"a/b/c.txt"});
    EXPECT_EQ(result.FFailed, 1);
    EXPECT_FALSE(PathExists(FOutside + "/c.txt"));
}

TEST_F(ApplyBelowRootTest, AFileLinkAtTheEndIsReplacedNotWrittenThrough) {
    WriteTextFile(FOutside + "/target.txt", "outside");
    ASSERT_EQ(symlink((FOutside + "/target.txt").c_str(), (FTarget + "/a.txt").c_str()), 0);
    WriteTextFile(FSource + "/a.txt", "new");
    EXPECT_EQ(Apply(TApplyPhase::Update, {"a.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "new");
    EXPECT_EQ(ReadTextFile(FOutside + "/target.txt"), "outside");
}

TEST_F(ApplyBelowRootTest, EveryFailedItemCarriesItsPathAndTheSystemsReason) {
    WriteTextFile(FSource + "/exists.txt", "s");
    WriteTextFile(FTarget + "/exists.txt", "t");
    WriteTextFile(FTarget + "/full/a.txt", "t");
    WriteTextFile(FTarget + "/file", "t");
    const TPhaseResult created = Apply(TApplyPhase::New, {"exists.txt", "file/x.txt", "../up.txt"});
    const TPhaseResult updated = Apply(TApplyPhase::Update, {"missing.txt"});
    const TPhaseResult deleted = Apply(TApplyPhase::Delete, {"gone.txt", "full/"});
    const auto reasons = [](const TPhaseResult& result) {
        Lines lines;
        for (const TItemFailure& failure : result.FFailures) {
            lines.push_back(failure.FPath + ": " + failure.FReason);
        }
        return lines;
    };
    EXPECT_EQ(reasons(created),
              (Lines{FTarget + "/exists.txt: File exists", FTarget + "/file/x.txt: Not a directory",
                     FTarget + "/../up.txt: the line leaves its root"}));
    EXPECT_EQ(reasons(updated), (Lines{FTarget + "/missing.txt: Cannot open " + FSource +
                                       "/missing.txt: No such file or directory"}));
    EXPECT_EQ(reasons(deleted), (Lines{FTarget + "/gone.txt: No such file or directory",
                                       FTarget + "/full/: Directory not empty"}));
    EXPECT_EQ(created.FFailedLines.size(), created.FFailures.size());
}

TEST_F(ApplyBelowRootTest, APathTooLongFailsItsItemWithTheReason) {
    std::string line;
    while (line.size() < 4200) {
        line += std::string(100, 'n') + "/";
    }
    line += "file.txt";
    const TPhaseResult result = Apply(TApplyPhase::New, {line});
    ASSERT_EQ(result.FFailures.size(), 1u);
    EXPECT_NE(result.FFailures[0].FReason.find("File name too long"), std::string::npos)
        << result.FFailures[0].FReason;
}

TEST_F(ApplyBelowRootTest, LeftoverTemporaryFilesGoWithTheNextWriteUnlessACopyHoldsThem) {
    WriteTextFile(FSource + "/sub/a.txt", "a");
    WriteTextFile(FTarget + "/sub/.pairwell-Stale1", "left by a killed copy");
    WriteTextFile(FTarget + "/sub/.pairwell-Busy22", "being written by another run");
    WriteTextFile(FTarget + "/sub/.pairwell-user.txt", "not ours");
    const int busy = open((FTarget + "/sub/.pairwell-Busy22").c_str(), O_RDONLY);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);
    EXPECT_EQ(Apply(TApplyPhase::New, {"sub/a.txt"}).FDone, 1);
    EXPECT_FALSE(PathExists(FTarget + "/sub/.pairwell-Stale1"));
    EXPECT_TRUE(PathExists(FTarget + "/sub/.pairwell-Busy22"));
    EXPECT_TRUE(PathExists(FTarget + "/sub/.pairwell-user.txt"));
    close(busy);

    // A folder to delete holding only a leftover goes too.
    WriteTextFile(FTarget + "/old/.pairwell-Stale2", "left by a killed copy");
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"old/"}).FDone, 1);
}

} // namespace
