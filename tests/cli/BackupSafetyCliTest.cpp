// The deletion guard and the source marker as a script meets them through the
// real pairwell-cli program.

#include "CliProgram.h"
#include "TempDir.h"
#include "jobs/JobTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using TRun = TCliResult;

class BackupSafetyCliTest : public ::testing::Test {
protected:
    BackupSafetyCliTest() : FIni(FConfig), FRunLog(FDir / "log") {}

    TRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--config", FConfig});
        return RunCliTo(FDir / "stdout", FDir / "stderr", std::move(args));
    }

    // A project "name" from src-name to dst-name with deletion on; the target
    // holds `kept` files that the source has too and `surplus` it lacks.
    void StoreGuarded(const std::string& name, int kept, int surplus) {
        const std::string source = FDir / ("src-" + name), target = FDir / ("dst-" + name);
        MakeFolder(source);
        for (int i = 0; i < kept; ++i) {
            WriteTextFile(source + "/k" + std::to_string(i), "k");
            WriteTextFile(target + "/k" + std::to_string(i), "k");
        }
        for (int i = 0; i < surplus; ++i) {
            WriteTextFile(target + "/s" + std::to_string(i), "s");
        }
        jobtest::StoreProject(FIni, name, source, target);
        FIni.WriteString(ProjectSection(name), "FileDelete", "True");
    }

    static int CountFiles(const std::string& folder) {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
            ++count;
        }
        return count;
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    TIniFile FIni;
    TRunLog FRunLog;
};

TEST_F(BackupSafetyCliTest, GuardTripsAtItsEdgesAndATrippedRunWritesNothing) {
    // Count: 9 deletions (90 % of 10) pass, 10 (of 11) trip.
    StoreGuarded("nine", 1, 9);
    StoreGuarded("ten", 1, 10);
    // Share, from 1 deletion on: 50 of 100 pass, 51 of 100 trip.
    StoreGuarded("fifty", 50, 50);
    StoreGuarded("fiftyone", 49, 51);
    for (const char* name : {"fifty", "fiftyone"}) {
        FIni.WriteString(ProjectSection(name), "DeleteGuardCount", "1");
    }
    // An empty source trips it whatever the count.
    StoreGuarded("empty", 0, 1);
    // Switched off, nothing trips.
    StoreGuarded("off", 0, 12);
    FIni.WriteString(ProjectSection("off"), "DeleteGuard", "False");

    EXPECT_EQ(Run({"sync", "nine"}).FStatus, 0);
    EXPECT_EQ(CountFiles(FDir / "dst-nine"), 1);
    EXPECT_EQ(Run({"sync", "fifty"}).FStatus, 0);
    EXPECT_EQ(CountFiles(FDir / "dst-fifty"), 50);
    EXPECT_EQ(Run({"sync", "off"}).FStatus, 0);
    EXPECT_EQ(CountFiles(FDir / "dst-off"), 0);

    // The refused run would also have copied and updated: it does neither.
    WriteTextFile(FDir / "src-ten/new.txt", "new");
    WriteTextFile(FDir / "src-ten/k0", "changed");
    SetModifiedTime(FDir / "dst-ten/k0", 1'000'000'000);
    const std::string message = "删除保护: 计划删除 10 项, 占目标的 90%";
    const TRun check = Run({"check", "ten"});
    EXPECT_EQ(check.FStatus, 0) << "check reports, it does not refuse";
    EXPECT_NE(check.FOut.find("delete\ts9"), std::string::npos);
    EXPECT_NE(check.FErr.find(message), std::string::npos) << check.FErr;
    const TRun ten = Run({"sync", "ten"});
    EXPECT_EQ(ten.FStatus, 4);
    EXPECT_NE(ten.FErr.find(message), std::string::npos) << ten.FErr;
    EXPECT_NE(ten.FErr.find(FDir / "src-ten/"), std::string::npos) << "names the source folder";
    EXPECT_EQ(CountFiles(FDir / "dst-ten"), 11);
    EXPECT_FALSE(PathExists(FDir / "dst-ten/new.txt"));
    EXPECT_EQ(ReadTextFile(FDir / "dst-ten/k0"), "k");

    const TRun fiftyOne = Run({"sync", "fiftyone"});
    EXPECT_EQ(fiftyOne.FStatus, 4);
    EXPECT_NE(fiftyOne.FErr.find("删除保护: 计划删除 51 项, 占目标的 51%"), std::string::npos);
    EXPECT_EQ(CountFiles(FDir / "dst-fiftyone"), 100);
    const TRun empty = Run({"sync", "empty"});
    EXPECT_EQ(empty.FStatus, 4);
    EXPECT_NE(empty.FErr.find("删除保护: 计划删除 1 项, 占目标的 100%"), std::string::npos);
    EXPECT_EQ(CountFiles(FDir / "dst-empty"), 1);

    // Logged as a refused item, the way an invalid source is.
    const std::vector<jobtest::Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 6U);
    EXPECT_EQ(jobtest::Masked(items[3]), (jobtest::Lines{
                                             "<Project>ten</Project>",
                                             "<ProcessStatus>中止</ProcessStatus>",
                                             "<Error>" + message + "</Error>",
                                             "<BeginTime>hh:mm:ss</BeginTime>",
                                             "<EndTime>hh:mm:ss</EndTime>",
                                             "<SpendTime>hh:mm:ss</SpendTime>",
                                         }));
}

TEST_F(BackupSafetyCliTest, ForceDeleteLetsARefusedRunThroughAndRunJobGoesOn) {
    StoreGuarded("mass", 0, 12);
    WriteTextFile(FDir / "src-mass/only.txt", "o");
    StoreGuarded("fine", 1, 1);
    jobtest::StoreJob(FIni, "J", {"mass", "fine"});

    const TRun job = Run({"run-job", "J"});
    EXPECT_EQ(job.FStatus, 4) << job.FErr;
    EXPECT_EQ(CountFiles(FDir / "dst-mass"), 12);
    EXPECT_EQ(CountFiles(FDir / "dst-fine"), 1) << "the job's next project still ran";

    EXPECT_EQ(Run({"check", "--force-delete", "mass"}).FStatus, 64);
    const TRun forced = Run({"sync", "mass", "--force-delete"});
    EXPECT_EQ(forced.FStatus, 0) << forced.FErr;
    EXPECT_EQ(CountFiles(FDir / "dst-mass"), 1);
    EXPECT_TRUE(PathExists(FDir / "dst-mass/only.txt"));
    EXPECT_NE(Run({"--help"}).FOut.find("--force-delete"), std::string::npos);
}

TEST_F(BackupSafetyCliTest, SourceWithoutItsMarkerIsRefusedAndNothingIsWritten) {
    StoreGuarded("p", 0, 1);
    WriteTextFile(FDir / "src-p/a.txt", "a");
    FIni.WriteString(ProjectSection("p"), "SourceMarker", ".backup-source");
    jobtest::StoreJob(FIni, "J", {"p"});

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", "p"}, {"sync", "p"}, {"run-job", "J"}}) {
        const TRun run = Run(args);
        EXPECT_EQ(run.FStatus, 2) << args[0];
        EXPECT_NE(run.FErr.find("源文件夹无效"), std::string::npos) << run.FErr;
        EXPECT_NE(run.FErr.find(".backup-source"), std::string::npos) << run.FErr;
    }
    EXPECT_FALSE(PathExists(FDir / "dst-p/a.txt"));
    EXPECT_TRUE(PathExists(FDir / "dst-p/s0"));
    const std::vector<jobtest::Lines> items = jobtest::DayItems(FRunLog);
    ASSERT_EQ(items.size(), 2U);
    EXPECT_TRUE(jobtest::Contains(items[0], "<Error>源文件夹无效</Error>"));

    WriteTextFile(FDir / "src-p/.backup-source", "");
    EXPECT_EQ(Run({"sync", "p"}).FStatus, 0);
    EXPECT_TRUE(PathExists(FDir / "dst-p/a.txt"));
}

} // namespace
