// Moved and renamed files and folders of a stored project's source are
// renamed in the target: the same inode at the new place proves it.

#include "config/FileFacts.h"
#include "engine/run/BackgroundRun.h"
#include "engine/versions/Versions.h"

#include "TempDir.h"
#include "TestSshd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

void Move(const std::string& from, const std::string& to) {
    const std::string parent = to.substr(0, to.rfind('/'));
    MakeFolder(parent);
    ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0) << from;
}

void Erase(TStringList& lines, const std::string& line) {
    const auto found = std::find(lines.begin(), lines.end(), line);
    ASSERT_NE(found, lines.end()) << line;
    lines.erase(found);
}

class MovesTest : public ::testing::Test {
protected:
    MovesTest() : FIni(FDir / "pairwell.ini") {
        WriteProject();
        MakeFolder(FSource);
    }
    // The project afresh, without "DetectMoves".
    void WriteProject() {
        FIni.EraseSection("project_P");
        FIni.WriteString("project_P", "source", FSource);
        FIni.WriteString("project_P", "target", FTarget);
        FIni.WriteString("project_P", "FileDelete", "True");
        FIni.WriteString("project_P", "EditTime", "2");
    }

    // Checks the project; the plan may then be edited before Apply.
    TBackgroundRun& Check() {
        FRun = TBackgroundRun{};
        FRun.FProjectName = "P";
        EXPECT_TRUE(CheckProject(FIni, FRun, SilentProgress())) << ErrorMessage(FRun);
        return FRun;
    }
    bool Apply() { return ApplyPlan(FIni, FRun, SilentProgress()); }
    TBackgroundRun& Sync() {
        Check();
        EXPECT_TRUE(Apply()) << ErrorMessage(FRun);
        return FRun;
    }
    std::string Log() const {
        std::string text;
        for (const std::string& line : FRun.FLogBuffer.Lines()) {
            text += line + "\n";
        }
        return text;
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TIniFile FIni;
    TBackgroundRun FRun;
};

TEST_F(MovesTest, AUniqueNonEmptyFilePairIsMovedAndAnAmbiguousOrEmptyOneCopied) {
    WriteTextFile(FSource + "/a/photo.jpg", "photo");
    WriteTextFile(FSource + "/a/keep.txt", "keep");
    WriteTextFile(FSource + "/a/same.txt", "same");
    WriteTextFile(FSource + "/a/empty.txt", "");
    Sync();
    const ino_t photo = InodeOf(FTarget + "/a/photo.jpg");
    const ino_t same = InodeOf(FTarget + "/a/same.txt");
    const ino_t empty = InodeOf(FTarget + "/a/empty.txt");

    Move(FSource + "/a/photo.jpg", FSource + "/b/photo.jpg");
    // Two new files share the facts of the deleted one: no telling which it became.
    Move(FSource + "/a/same.txt", FSource + "/c/same.txt");
    WriteTextFile(FSource + "/d/same.txt", "same");
    struct stat st {};
    ASSERT_EQ(stat((FSource + "/c/same.txt").c_str(), &st), 0);
    SetModifiedTime(FSource + "/d/same.txt", st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    Move(FSource + "/a/empty.txt", FSource + "/e/empty.txt");
    Sync();

    EXPECT_EQ(FRun.FMoveCount, 1);
    EXPECT_EQ(InodeOf(FTarget + "/b/photo.jpg"), photo);
    EXPECT_FALSE(PathExists(FTarget + "/a/photo.jpg"));
    EXPECT_NE(InodeOf(FTarget + "/c/same.txt"), same);
    EXPECT_EQ(ReadTextFile(FTarget + "/d/same.txt"), "same");
    EXPECT_FALSE(PathExists(FTarget + "/a/same.txt"));
    EXPECT_NE(InodeOf(FTarget + "/e/empty.txt"), empty);
    // The moved file is still logged as created and deleted, so the counts stay whole.
    EXPECT_NE(Log().find("<MoveCount>1</MoveCount>"), std::string::npos);
    EXPECT_NE(Log().find("<New>" + FTarget + "/b/photo.jpg</New>"), std::string::npos);
    EXPECT_NE(Log().find("<Delete>" + FTarget + "/a/photo.jpg</Delete>"), std::string::npos);
    EXPECT_EQ(FRun.FNewResult.FDone, 4);
    EXPECT_EQ(FRun.FDeleteResult.FDone, 3);
}

TEST_F(MovesTest, ARenamedOrNestedFolderIsRenamedInOneStepAndKeepsNoVersion) {
    for (const char* includeFolders : {"False", "True"}) {
        SCOPED_TRACE(includeFolders);
        FIni.WriteString("project_P", "cbIncludeBlankFolder", includeFolders);
        FIni.WriteString("project_P", "Versioning", "True");
        ASSERT_EQ(system(("rm -rf '" + FSource + "' '" + FTarget + "'").c_str()), 0);
        WriteTextFile(FSource + "/2024/x/1.jpg", "one");
        WriteTextFile(FSource + "/2024/x/2.jpg", "two");
        WriteTextFile(FSource + "/2024/empty.txt", "");
        MakeFolder(FSource + "/2024/none");
        WriteTextFile(FSource + "/photos/p.jpg", "p");
        WriteTextFile(FSource + "/photos/q.jpg", "q");
        Sync();
        const ino_t year = InodeOf(FTarget + "/2024");
        const ino_t photos = InodeOf(FTarget + "/photos");

        Move(FSource + "/2024", FSource + "/2024 旅行");
        Move(FSource + "/photos", FSource + "/archive/photos");
        Sync();

        EXPECT_EQ(FRun.FMoveCount, 2);
        EXPECT_EQ(InodeOf(FTarget + "/2024 旅行"), year);
        EXPECT_EQ(InodeOf(FTarget + "/archive/photos"), photos);
        EXPECT_EQ(ReadTextFile(FTarget + "/2024 旅行/x/2.jpg"), "two");
        EXPECT_FALSE(PathExists(FTarget + "/2024"));
        EXPECT_FALSE(PathExists(FTarget + "/photos"));
        EXPECT_EQ(FRun.FNewResult.FFailed + FRun.FDeleteResult.FFailed, 0);
        ASSERT_TRUE(FRun.FVersions);
        EXPECT_EQ(FRun.FVersions->Count(), 0);
        EXPECT_TRUE(Check().FPlan.FNewList.empty());
        EXPECT_TRUE(FRun.FPlan.FDeleteList.empty());
    }
}

TEST_F(MovesTest, ALineRemovedFromThePlanMakesItACopyOrKeepsTheOldFile) {
    WriteTextFile(FSource + "/a/1.jpg", "one");
    WriteTextFile(FSource + "/a/2.jpg", "two");
    WriteTextFile(FSource + "/f/3.jpg", "three");
    WriteTextFile(FSource + "/f/4.jpg", "four");
    Sync();
    const ino_t two = InodeOf(FTarget + "/a/2.jpg");
    const ino_t four = InodeOf(FTarget + "/f/4.jpg");
    Move(FSource + "/a/1.jpg", FSource + "/b/1.jpg");
    Move(FSource + "/a/2.jpg", FSource + "/b/2.jpg");
    Move(FSource + "/f", FSource + "/g");

    Check();
    Erase(FRun.FPlan.FNewList, "b/1.jpg");    // not created: the old one is deleted
    Erase(FRun.FPlan.FDeleteList, "a/2.jpg"); // not deleted: the new one is a copy
    Erase(FRun.FPlan.FDeleteList, "f/3.jpg"); // the folder is no longer moved whole
    ASSERT_TRUE(Apply());

    EXPECT_FALSE(PathExists(FTarget + "/b/1.jpg"));
    EXPECT_FALSE(PathExists(FTarget + "/a/1.jpg"));
    EXPECT_NE(InodeOf(FTarget + "/b/2.jpg"), two);
    EXPECT_EQ(InodeOf(FTarget + "/a/2.jpg"), two);
    EXPECT_EQ(ReadTextFile(FTarget + "/f/3.jpg"), "three");
    EXPECT_EQ(ReadTextFile(FTarget + "/g/3.jpg"), "three");
    EXPECT_EQ(InodeOf(FTarget + "/g/4.jpg"), four);
    EXPECT_EQ(FRun.FMoveCount, 1);
}

TEST_F(MovesTest, AMoveWhoseRenameFailsIsCopiedAndDeletedAndTheRunGoesOn) {
    // The old folder lies on another file system below the target: no rename reaches it.
    MakeFolder(FTarget + "/a");
    if (mount("tmpfs", (FTarget + "/a").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "no tmpfs can be mounted here";
    }
    struct TUnmount {
        std::string FPath;
        ~TUnmount() { umount2(FPath.c_str(), MNT_DETACH); }
    } unmount{FTarget + "/a"};
    WriteTextFile(FSource + "/a/1.jpg", "one");
    WriteTextFile(FSource + "/a/keep.txt", "keep");
    Sync();
    Move(FSource + "/a/1.jpg", FSource + "/b/1.jpg");
    Sync();

    EXPECT_EQ(FRun.FMoveCount, 0);
    EXPECT_EQ(ReadTextFile(FTarget + "/b/1.jpg"), "one");
    EXPECT_FALSE(PathExists(FTarget + "/a/1.jpg"));
    EXPECT_EQ(FRun.FNewResult.FFailed + FRun.FDeleteResult.FFailed, 0);
    EXPECT_NE(Log().find("<MoveCount>0</MoveCount>"), std::string::npos);
    // Why it was copied is told, as no failure: the file arrived.
    ASSERT_EQ(FRun.FMoveFallbacks.size(), 1u);
    EXPECT_EQ(FRun.FMoveFallbacks[0].FPath, FTarget + "/a/1.jpg");
    EXPECT_EQ(FRun.FMoveFallbacks[0].FReason, "not renamed to " + FTarget + "/b/1.jpg (" + ErrorText(EXDEV) +
                                                  "): copied and deleted instead");
    EXPECT_NE(Log().find("<MoveFail>" + FTarget + "/a/1.jpg</MoveFail>"), std::string::npos);
    EXPECT_EQ(Log().find("<NewFail>"), std::string::npos);
}

TEST_F(MovesTest, TheGuardDoesNotCountMovesWhichNeedDeletionAndTheKey) {
    for (int i = 0; i < 20; ++i) {
        WriteTextFile(FSource + "/big/" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    }
    Sync();
    Move(FSource + "/big", FSource + "/large");

    // Without moves all 20 files are deletions: more than half of the target.
    FIni.WriteString("project_P", "DetectMoves", "False");
    Check();
    EXPECT_FALSE(Apply());
    EXPECT_TRUE(FRun.FDeleteGuardTripped);
    FIni.WriteString("project_P", "FileDelete", "False");
    Check();
    ASSERT_TRUE(Apply());
    EXPECT_EQ(FRun.FMoveCount, 0);
    EXPECT_EQ(Log().find("MoveCount"), std::string::npos);
    ASSERT_EQ(system(("rm -rf '" + FTarget + "/large'").c_str()), 0);

    WriteProject(); // "DetectMoves" absent: on
    const ino_t file = InodeOf(FTarget + "/big/7.txt");
    Sync();
    EXPECT_FALSE(FRun.FDeleteGuardTripped);
    EXPECT_EQ(FRun.FMoveCount, 1);
    EXPECT_EQ(InodeOf(FTarget + "/large/7.txt"), file);
}

TEST_F(MovesTest, WithContentComparisonOnlyEqualBytesMove) {
    WriteTextFile(FSource + "/a/k.bin", "AAAA");
    WriteTextFile(FSource + "/f/1.bin", "1111");
    WriteTextFile(FSource + "/f/2.bin", "2222");
    Sync();
    Move(FSource + "/a/k.bin", FSource + "/b/k.bin");
    Move(FSource + "/f", FSource + "/g");
    // The old copies change their bytes but not their size or time.
    for (const std::string& path : {FTarget + "/a/k.bin", FTarget + "/f/2.bin"}) {
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        WriteTextFile(path, "BBBB");
        SetModifiedTime(path, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    }
    const ino_t one = InodeOf(FTarget + "/f/1.bin");

    FIni.WriteString("project_P", "CompareContent", "True");
    Sync();
    EXPECT_EQ(FRun.FMoveCount, 1); // f/1.bin alone
    EXPECT_EQ(ReadTextFile(FTarget + "/b/k.bin"), "AAAA");
    EXPECT_EQ(ReadTextFile(FTarget + "/g/2.bin"), "2222");
    EXPECT_EQ(InodeOf(FTarget + "/g/1.bin"), one);

    // Without it the facts decide: the changed file is moved as it is.
    FIni.WriteString("project_P", "CompareContent", "False");
    Move(FSource + "/b/k.bin", FSource + "/c/k.bin");
    WriteTextFile(FTarget + "/b/k.bin", "CCCC");
    struct stat st {};
    ASSERT_EQ(stat((FSource + "/c/k.bin").c_str(), &st), 0);
    SetModifiedTime(FTarget + "/b/k.bin", st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    Sync();
    EXPECT_EQ(FRun.FMoveCount, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/c/k.bin"), "CCCC");
}

TEST_F(MovesTest, ARemoteTargetThatKeepsWholeSecondsStillMovesFilesAndFolders) {
    if (access("/usr/sbin/sshd", X_OK) != 0) {
        GTEST_SKIP() << "needs openssh-server";
    }
    const auto sshd = std::make_unique<TTestSshd>(FDir);
    ASSERT_TRUE(sshd->Running());
    FIni.WriteString("project_P", "target", sshd->Address(FTarget));
    FIni.WriteString("project_P", "SshCommand", sshd->SshCommand());
    // Times with a fraction of a second that the server cannot keep.
    for (const char* name : {"/a/photo.jpg", "/f/1.jpg", "/f/2.jpg"}) {
        WriteTextFile(FSource + name, name);
        SetModifiedTime(FSource + name, 1'700'000'001, 700'000'000);
    }
    Sync();
    const ino_t photo = InodeOf(FTarget + "/a/photo.jpg");
    const ino_t folder = InodeOf(FTarget + "/f");
    Move(FSource + "/a/photo.jpg", FSource + "/b/photo.jpg");
    Move(FSource + "/f", FSource + "/g");
    Sync();

    EXPECT_EQ(FRun.FMoveCount, 2);
    EXPECT_EQ(InodeOf(FTarget + "/b/photo.jpg"), photo);
    EXPECT_EQ(InodeOf(FTarget + "/g"), folder);
    EXPECT_FALSE(PathExists(FTarget + "/f"));
}

} // namespace
