#include "engine/project/ProjectRecord.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(ProjectRecord, MissingKeysTakeTheBackgroundDefaults) {
    TTempDir dir;
    const TIniFile ini(dir / "pairwell.ini");
    const TProjectRecord record = ReadProject(ini, "none");
    EXPECT_TRUE(record.FSource.empty());
    EXPECT_TRUE(record.FUpdateReadOnly);
    EXPECT_FALSE(record.FFileDelete);
    EXPECT_FALSE(record.FCheckEditTime);
    EXPECT_EQ(record.FEditTime, 0);
    EXPECT_EQ(StartOfDay(record.FTime1), StartOfDay(Now()));
}

TEST(ProjectRecord, SavesSixteenKeysInOrderAndReadsThemBack) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    TProjectRecord record;
    record.FSource = "/src with blanks";
    record.FTarget = "/目标";
    record.FFileTypeInclude = "jpg|bmp";
    record.FUpdateReadOnly = false;
    record.FEditTime = -1;
    record.FTime1 = EncodeDateTime({2004, 8, 13, 0, 0, 0, 0});
    WriteProject(ini, "a", record);
    TStringList keys;
    ini.ReadSection("project_a", keys);
    EXPECT_EQ(keys, (TStringList{"source",
                                 "target",
                                 "deploy",
                                 "FileTypeInclude",
                                 "FileTypeExcept",
                                 "dirInclude",
                                 "dirExcept",
                                 "StayOnTop",
                                 "FileDelete",
                                 "UpdateReadOnly",
                                 "UpdateToOther",
                                 "EditTime",
                                 "cbCheckEditTime",
                                 "cbCheckSize",
                                 "cbIncludeBlankFolder",
                                 "Time1",
                                 "DeleteGuard",
                                 "DeleteGuardPercent",
                                 "DeleteGuardCount",
                                 "SourceMarker",
                                 "Versioning",
                                 "VersionFolder",
                                 "VersionKeepDays",
                                 "TimeTolerance",
                                 "IgnoreTimeShift",
                                 "Links",
                                 "CompareContent",
                                 "VerifyCopy"}));
    EXPECT_EQ(ini.ReadString("project_a", "Time1", ""), "2004-08-13");
    EXPECT_EQ(ini.ReadString("project_a", "EditTime", ""), "-1");
    const TProjectRecord back = ReadProject(ini, "A"); // one project whatever the case
    EXPECT_EQ(back.FSource, record.FSource);
    EXPECT_EQ(back.FTarget, record.FTarget);
    EXPECT_FALSE(back.FUpdateReadOnly);
    EXPECT_EQ(back.FEditTime, -1);
    EXPECT_EQ(back.FTime1, record.FTime1);
}

TEST(ProjectRecord, SwitchesAreOnOnlyForExactlyTrueAndBadNumbersRaise) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    ini.WriteString("project_p", "cbCheckSize", "true");
    ini.WriteString("project_p", "UpdateReadOnly", "");
    EXPECT_FALSE(ReadProject(ini, "p").FCheckSize);
    EXPECT_FALSE(ReadProject(ini, "p").FUpdateReadOnly);
    ini.WriteString("project_p", "EditTime", "x");
    EXPECT_THROW(ReadProject(ini, "p"), EConvertError);
    ini.WriteString("project_p", "EditTime", "3");
    ini.WriteString("project_p", "Time1", "abc");
    EXPECT_THROW(ReadProject(ini, "p"), EConvertError);
}

TEST(ProjectRecord, GuardVersionTimeAndLinkKeysDefaultWhenAbsentRoundTripAndRejectBadWords) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    ini.WriteString("project_old", "source", "/s");
    const TProjectRecord absent = ReadProject(ini, "old");
    EXPECT_TRUE(absent.FDeleteGuard); // the guard is on unless switched off
    EXPECT_EQ(absent.FDeleteGuardPercent, 50);
    EXPECT_EQ(absent.FDeleteGuardCount, 10);
    EXPECT_FALSE(absent.FVersioning);
    EXPECT_EQ(absent.FVersionKeepDays, 30);
    EXPECT_EQ(absent.FTimeTolerance, TimeToleranceAuto);
    EXPECT_EQ(absent.FLinks, TLinkMode::File);
    EXPECT_FALSE(absent.FCompareContent || absent.FVerifyCopy);

    TProjectRecord record;
    record.FDeleteGuard = false;
    record.FSourceMarker = ".mounted";
    record.FVersioning = true;
    record.FVersionFolder = "versions";
    record.FVersionKeepDays = 0;
    record.FTimeTolerance = 2;
    record.FIgnoreTimeShift = "60|120";
    record.FLinks = TLinkMode::Link;
    record.FVerifyCopy = true;
    WriteProject(ini, "p", record);
    EXPECT_EQ(ini.ReadString("project_p", "Links", ""), "link");
    EXPECT_EQ(ini.ReadString("project_p", "TimeTolerance", ""), "2");
    const TProjectRecord back = ReadProject(ini, "p");
    EXPECT_FALSE(back.FDeleteGuard);
    EXPECT_EQ(back.FSourceMarker, ".mounted");
    EXPECT_TRUE(back.FVersioning);
    EXPECT_EQ(back.FVersionFolder, "versions");
    EXPECT_EQ(back.FVersionKeepDays, 0);
    EXPECT_EQ(back.FTimeTolerance, 2);
    EXPECT_EQ(back.FIgnoreTimeShift, "60|120");
    EXPECT_EQ(back.FLinks, TLinkMode::Link);
    EXPECT_TRUE(back.FVerifyCopy);

    for (const auto& [key, bad] :
         {std::pair{"Links", "links"}, std::pair{"TimeTolerance", "two"},
          std::pair{"DeleteGuardPercent", "-5"}, std::pair{"VersionKeepDays", "x"}}) {
        TIniFile fresh(dir / (std::string(key) + ".ini"));
        fresh.WriteString("project_p", key, bad);
        EXPECT_THROW(ReadProject(fresh, "p"), EConvertError) << key;
    }
}

TEST(ProjectRecord, ListsOnlyNamedProjectsAndDeletesBySection) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    for (const char* section : {"system", "project_", "project_x", "job_j", "job-project_j"}) {
        ini.WriteString(section, "k", "v");
    }
    TStringList names;
    ListProjects(ini, names);
    EXPECT_EQ(names, TStringList{"x"});
    DeleteProject(ini, "X");
    ListProjects(ini, names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(ini.ReadString("job-project_j", "k", ""), "v");
}

// The window saves while a job runner reads: each read is one save, whole.
TEST(ProjectRecord, AReadNeverPairsOneSavesSourceWithAnothersTarget) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    std::atomic<bool> done = false;
    std::thread saver([&] {
        TIniFile ini(path);
        for (int i = 0; i < 200; ++i) {
            TProjectRecord record;
            record.FSource = "/source/" + std::to_string(i);
            record.FTarget = "/target/" + std::to_string(i);
            record.FFileDelete = i % 2 == 1;
            WriteProject(ini, "p", record);
        }
        done = true;
    });
    const TIniFile ini(path);
    int mixed = 0;
    while (!done) {
        const TProjectRecord record = ReadProject(ini, "p");
        if (record.FSource.empty()) {
            continue;
        }
        const std::string n = record.FSource.substr(8);
        if (record.FTarget != "/target/" + n || record.FFileDelete != (std::stoi(n) % 2 == 1)) {
            ++mixed;
        }
    }
    saver.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace
