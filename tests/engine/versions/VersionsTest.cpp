// Versions of what an apply overwrites or deletes, on real folders.

#include "engine/versions/Versions.h"
#include "engine/apply/Apply.h"
#include "engine/run/BackgroundRun.h"
#include "engine/versions/VersionList.h"
#include "engine/versions/VersionPrune.h"

#include "FaultyVolume.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "config/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Lines = TStringList;

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return EncodeDateTime({year, month, day, hour, minute, second, 0});
}

// The names in a folder, "." and ".." left out.
std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
                names.emplace_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class VersionsTest : public ::testing::Test {
protected:
    VersionsTest() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
        FOptions.FSourceRoot = FSource + "/";
        FOptions.FTargetRoot = FTarget + "/";
        FOptions.FWriteRoot = FTarget + "/";
    }

    std::shared_ptr<TVersionStore> Store(TDateTime start = At(2026, 3, 10, 17, 45, 0)) {
        return std::make_shared<TVersionStore>(FVersions, start);
    }

    TPhaseResult Apply(TApplyPhase phase, const Lines& lines) {
        return ApplyPhase(phase, lines, FOptions, FLog, SilentProgress());
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    std::string FVersions = FDir / "versions/";
    TApplyOptions FOptions;
    TLogBuffer FLog;
};

TEST_F(VersionsTest, UpdatesAndDeletesKeepTheOldFileInTheRunFolderNumberedWithinASecond) {
    WriteTextFile(FSource + "/docs/a.txt", "new a");
    WriteTextFile(FTarget + "/docs/a.txt", "old a");
    WriteTextFile(FTarget + "/gone/b.txt", "old b");
    FOptions.FVersions = Store();
    EXPECT_EQ(Apply(TApplyPhase::Update, {"docs/a.txt"}).FDone, 1);
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"gone/b.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/docs/a.txt"), "new a");
    EXPECT_FALSE(PathExists(FTarget + "/gone/b.txt"));
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-10 174500/docs/a.txt"), "old a");
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-10 174500/gone/b.txt"), "old b");
    EXPECT_EQ(FOptions.FVersions->Count(), 2);
    EXPECT_EQ(NamesIn(FTarget + "/docs"), std::vector<std::string>{"a.txt"}) << "no temporary file is left";

    // A second run in the same second gets its own folder; a missing file keeps nothing.
    WriteTextFile(FSource + "/docs/a.txt", "newer a");
    FOptions.FVersions = Store();
    EXPECT_EQ(Apply(TApplyPhase::Update, {"docs/a.txt"}).FDone, 1);
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"never.txt"}).FFailed, 1);
    EXPECT_EQ(FOptions.FVersions->Count(), 1);
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-10 174500 (2)/docs/a.txt"), "new a");

    const std::vector<TVersionFile> versions = ListVersions(FVersions);
    ASSERT_EQ(versions.size(), 3u);
    EXPECT_EQ(versions[0].FRunFolder, "2026-03-10 174500");
    EXPECT_EQ(versions[1].FRunFolder, "2026-03-10 174500 (2)");
    EXPECT_EQ(versions[2].FPath, "gone/b.txt");
    EXPECT_EQ(FindVersion(versions, "docs/a.txt", std::nullopt)->FSequence, 2);
    EXPECT_FALSE(FindVersion(versions, "docs/a.txt", At(2026, 3, 10, 17, 44, 59)));
}

TEST_F(VersionsTest, OnAnotherFileSystemTheVersionIsACopyAndTheFileStillGoes) {
    struct stat here {
    }, there{};
    if (stat(FDir.Path().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "/dev/shm is not another file system here";
    }
    char folder[] = "/dev/shm/pairwell-versions-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    FVersions = std::string(folder) + "/";
    WriteTextFile(FSource + "/a.txt", "new a");
    WriteTextFile(FTarget + "/a.txt", "old a");
    WriteTextFile(FTarget + "/b.txt", "old b");
    FOptions.FVersions = Store();
    EXPECT_EQ(Apply(TApplyPhase::Update, {"a.txt"}).FDone, 1);
    EXPECT_EQ(Apply(TApplyPhase::Delete, {"b.txt"}).FDone, 1);
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "new a");
    EXPECT_FALSE(PathExists(FTarget + "/b.txt"));
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-10 174500/a.txt"), "old a");
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-10 174500/b.txt"), "old b");
    EXPECT_EQ(FOptions.FVersions->Count(), 2);
    std::filesystem::remove_all(folder);
}

TEST_F(VersionsTest, ACopyThatCannotTakeThePlaceOfTheKeptFilePutsItBack) {
    WriteTextFile(FSource + "/a.txt", "new a");
    WriteTextFile(FTarget + "/a.txt", "old a");
    TVersionStore store(FVersions, At(2026, 3, 10));
    // The old file is kept, then the finished copy cannot be renamed into its place.
    TFaultyVolume target(FTarget);
    target.FRenameFault = [](const std::string&) { return ENOENT; };
    TVersionKeeper keeper(store, target, "a.txt");
    std::string name;
    int error = 0;
    bool notRegular = false;
    const TFolderRef folder = target.OpenParent("a.txt", TFolderWalk::Existing, name, error);
    TLocalVolume source(FSource);
    const std::unique_ptr<TReadableFile> file = source.OpenFile("a.txt", error, notRegular);
    ASSERT_TRUE(folder && file);
    TWriteOptions options;
    options.FReplaced = &keeper;
    std::string reason;
    EXPECT_FALSE(target.WriteFile(*folder, name, *file, options, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "old a");
    EXPECT_TRUE(ListVersions(FVersions).empty());
    EXPECT_EQ(store.Count(), 0);
}

TEST_F(VersionsTest, PruningRemovesOldVersionsButNeverTheNewestOfAPath) {
    const TDateTime now = At(2026, 3, 31, 12);
    WriteTextFile(FVersions + "2026-01-01 000000/only.txt", "only, very old");
    WriteTextFile(FVersions + "2026-01-02 000000/b.txt", "b, old");
    WriteTextFile(FVersions + "2026-01-02 000000/deep/er/c.txt", "c, old");
    WriteTextFile(FVersions + "2026-01-03 000000/b.txt", "b, newest but old");
    WriteTextFile(FVersions + "2026-03-30 000000/deep/er/c.txt", "c, recent");
    WriteTextFile(FVersions + "2026-03-01 120001/d.txt", "d, 29 days 23:59:59");
    WriteTextFile(FVersions + "2026-03-01 115959/d.txt", "d, 30 days and a second");
    MakeFolder(FVersions + "2026-03-30 000001 (2)/empty");
    WriteTextFile(FVersions + "notes/keep.txt", "not a run folder");

    PruneVersions(FVersions, 0, now);
    EXPECT_EQ(ListVersions(FVersions).size(), 7u) << "0 keeps for ever";

    PruneVersions(FVersions, 30, now);
    EXPECT_EQ(ReadTextFile(FVersions + "2026-01-01 000000/only.txt"), "only, very old");
    EXPECT_FALSE(PathExists(FVersions + "2026-01-02 000000")) << "emptied run folders go";
    EXPECT_EQ(ReadTextFile(FVersions + "2026-01-03 000000/b.txt"), "b, newest but old");
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-30 000000/deep/er/c.txt"), "c, recent");
    EXPECT_EQ(ReadTextFile(FVersions + "2026-03-01 120001/d.txt"), "d, 29 days 23:59:59");
    EXPECT_FALSE(PathExists(FVersions + "2026-03-01 115959"));
    EXPECT_FALSE(PathExists(FVersions + "2026-03-30 000001 (2)"));
    EXPECT_EQ(ReadTextFile(FVersions + "notes/keep.txt"), "not a run folder");
}

TEST_F(VersionsTest, TheVersionFolderIsLeftOutOfBothIndexes) {
    TIniFile ini(FDir / "pairwell.ini");
    ini.WriteString("project_P", "source", FSource);
    ini.WriteString("project_P", "target", FTarget);
    ini.WriteString("project_P", "FileDelete", "True");
    ini.WriteString("project_P", "Versioning", "True");
    WriteTextFile(FSource + "/a.txt", "a");
    WriteTextFile(FTarget + "/.pairwell-versions/2026-01-01 000000/x.txt", "kept");
    WriteTextFile(FSource + "/.pairwell-versions/y.txt", "would land in the version folder");
    const auto plan = [&] {
        TBackgroundRun run;
        run.FProjectName = "P";
        EXPECT_TRUE(CheckProject(ini, run, SilentProgress())) << ErrorMessage(run);
        return run.FPlan;
    };
    // Inside the target (the default): never deleted, and nothing planned into it.
    TPlan inTarget = plan();
    EXPECT_EQ(inTarget.FNewList, Lines{"a.txt"});
    EXPECT_TRUE(inTarget.FDeleteList.empty());

    // Inside the source, named relative to the configuration file: never copied.
    ini.WriteString("project_P", "VersionFolder", "src/kept");
    WriteTextFile(FSource + "/kept/2026-01-01 000000/z.txt", "kept");
    WriteTextFile(FTarget + "/surplus.txt", "s");
    TPlan inSource = plan();
    EXPECT_EQ(inSource.FNewList, (Lines{".pairwell-versions/y.txt", "a.txt"}));
    EXPECT_EQ(inSource.FDeleteList, (Lines{".pairwell-versions/2026-01-01 000000/x.txt", "surplus.txt"}));

    // Versioning switched off later: what was kept is still not deleted.
    ini.WriteString("project_P", "VersionFolder", "");
    ini.WriteString("project_P", "Versioning", "False");
    TPlan off = plan();
    EXPECT_EQ(off.FNewList, (Lines{"a.txt", "kept/2026-01-01 000000/z.txt"}));
    EXPECT_EQ(off.FDeleteList, Lines{"surplus.txt"});
}

TEST_F(VersionsTest, AKilledVersionedUpdateLeavesTheOldContentAtItsPathOrInTheVersionFolder) {
    constexpr std::size_t Size = 48 << 20;
    const std::string oldContent(Size, 'o');
    { std::ofstream(FSource + "/big.bin", std::ios::binary) << std::string(Size, 'n'); }
    const auto holdsOld = [&](const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) == Size &&
               ReadTextFile(path) == oldContent;
    };
    for (int delayMs : {0, 2, 5, 10, 20, 40, 80, 160}) {
        std::filesystem::remove_all(FVersions);
        { std::ofstream(FTarget + "/big.bin", std::ios::binary) << oldContent; }
        const pid_t child = StartChild([&] {
            FOptions.FVersions = Store(At(2026, 3, 10, 17, 45, delayMs % 60));
            return Apply(TApplyPhase::Update, {"big.bin"}).FDone == 1 ? 0 : 1;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(child, SIGKILL);
        WaitChild(child);
        bool found = holdsOld(FTarget + "/big.bin");
        for (const TVersionFile& version : ListVersions(FVersions)) {
            found = found || holdsOld(FVersions + version.FRunFolder + "/" + version.FPath);
        }
        EXPECT_TRUE(found) << "killed after " << delayMs << " ms";
    }
}

TEST_F(VersionsTest, AFileThatCannotBeKeptFailsItsItemAndStaysAsItWas) {
    if (!PermissionsCanBind()) {
        GTEST_SKIP() << "no user without privileges";
    }
    WriteTextFile(FSource + "/a.txt", "new a");
    WriteTextFile(FTarget + "/a.txt", "old a");
    WriteTextFile(FTarget + "/b.txt", "old b");
    MakeFolder(FVersions);
    OpenToEveryone(FDir.Path());
    OpenToEveryone(FSource);
    chmod(FVersions.c_str(), 0555); // nobody may write the version folder
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        for (const std::string& path : {FTarget, FTarget + "/a.txt", FTarget + "/b.txt"}) {
            ASSERT_EQ(chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    }
    chmod((FSource + "/a.txt").c_str(), 0644);
    const std::string answer = RunUnprivileged([&] {
        FOptions.FVersions = Store();
        const TPhaseResult update = Apply(TApplyPhase::Update, {"a.txt"});
        const TPhaseResult remove = Apply(TApplyPhase::Delete, {"b.txt"});
        if (update.FFailures.size() != 1 || remove.FFailures.size() != 1) {
            return std::string("expected two failures");
        }
        return update.FFailures[0].FReason + "|" + remove.FFailures[0].FReason;
    });
    EXPECT_EQ(answer.find("cannot keep a version: "), 0u) << answer;
    EXPECT_NE(answer.find("|cannot keep a version: "), std::string::npos) << answer;
    EXPECT_NE(answer.find("Permission denied"), std::string::npos) << answer;
    EXPECT_EQ(ReadTextFile(FTarget + "/a.txt"), "old a");
    EXPECT_EQ(ReadTextFile(FTarget + "/b.txt"), "old b");
    EXPECT_EQ(NamesIn(FTarget), (std::vector<std::string>{"a.txt", "b.txt"})) << "no temporary file is left";
}

} // namespace
