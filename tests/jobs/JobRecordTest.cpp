#include "jobs/JobRecord.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

using Lines = TStringList;

class JobStoreTest : public ::testing::Test {
protected:
    JobStoreTest() : FIni(FDir / "pairwell.ini") {}

    Lines Keys(const std::string& section) {
        Lines keys;
        FIni.ReadSection(section, keys);
        return keys;
    }

    TTempDir FDir;
    TIniFile FIni;
};

TEST_F(JobStoreTest, WriteJobStoresTheScheduleInItsOrderAndKeepsOtherKeys) {
    FIni.WriteString("job_ Nightly ", "Note", "kept");
    FIni.WriteString("job_ Nightly ", "RbDay", "old");
    TJobRecord record;
    record.FEditMinute = 45;
    record.FCbTime = PeriodUnitHours;
    record.FDateJob = EncodeDateTime({2026, 3, 10, 17, 30, 0, 0});
    record.FTimeBegin = EncodeDateTime({2026, 3, 10, 8, 0, 0, 0});
    record.FTimeEnd = EncodeDateTime({2026, 3, 10, 0, 0, 0, 0});
    record.FCbJobValid = true;
    record.FRbPeriod = true;
    WriteJob(FIni, " Nightly ", record); // the name is stored exactly, blanks included

    EXPECT_EQ(Keys("job_ Nightly "),
              (Lines{"Note", "RbDay", "EditMinute", "CbTime", "DateJob", "TimeBegin", "TimeEnd", "CbJobValid",
                     "RbPeriod", "CatchUp", "RbChange", "RbConnect", "QuietSeconds", "MaxWaitSeconds",
                     "MinIntervalSeconds", "StaleDays"}));
    const auto read = [&](const std::string& key) { return FIni.ReadString("job_ Nightly ", key, "?"); };
    EXPECT_EQ(read("Note"), "kept");
    EXPECT_EQ(read("EditMinute"), "45");
    EXPECT_EQ(read("CbTime"), "1");
    EXPECT_EQ(read("DateJob"), "2026-03-10 17:30:00");
    EXPECT_EQ(read("TimeBegin"), "2026-03-10 08:00:00");
    EXPECT_EQ(read("TimeEnd"), "2026-03-10");
    EXPECT_EQ(read("CbJobValid"), "True");
    EXPECT_EQ(read("RbDay"), "False");
    EXPECT_EQ(read("RbPeriod"), "True");

    // A fresh section gets the keys in the order of a save.
    WriteJob(FIni, "Fresh", record);
    EXPECT_EQ(Keys("job_Fresh"),
              (Lines{"EditMinute", "CbTime", "DateJob", "TimeBegin", "TimeEnd", "CbJobValid", "RbDay",
                     "RbPeriod", "CatchUp", "RbChange", "RbConnect", "QuietSeconds", "MaxWaitSeconds",
                     "MinIntervalSeconds", "StaleDays"}));
}

TEST_F(JobStoreTest, TriggerAndAlertKeysDefaultWhenAbsentRoundTripAndRejectBadNumbers) {
    TJobRecord absent;
    ReadJobOptions(FIni, "old", absent);
    EXPECT_FALSE(absent.FCatchUp || absent.FRbChange || absent.FRbConnect);
    EXPECT_EQ(absent.FQuietSeconds, 10);
    EXPECT_EQ(absent.FMaxWaitSeconds, 300);
    EXPECT_EQ(absent.FMinIntervalSeconds, 60);
    EXPECT_EQ(absent.FStaleDays, 0);

    TJobRecord record;
    record.FCatchUp = true;
    record.FRbConnect = true;
    record.FQuietSeconds = 3;
    record.FStaleDays = 7;
    WriteJob(FIni, "j", record);
    TJobRecord back;
    ReadJobOptions(FIni, "J", back);
    EXPECT_TRUE(back.FCatchUp && back.FRbConnect && !back.FRbChange);
    EXPECT_EQ(back.FQuietSeconds, 3);
    EXPECT_EQ(back.FStaleDays, 7);

    for (const char* bad : {"x", "-1"}) {
        FIni.WriteString("job_j", "StaleDays", bad);
        EXPECT_THROW(ReadJobOptions(FIni, "j", back), EConvertError) << bad;
    }
}

TEST_F(JobStoreTest, TheProjectListIsReplacedAndAnEmptyOneLeavesNoSection) {
    TJobRecord record;
    record.FProjects = {"P1", "P2"};
    WriteJob(FIni, "J", record);
    EXPECT_EQ(Keys("job-project_J"), (Lines{"0", "1"}));
    EXPECT_EQ(ReadJobProjects(FIni, "J"), (Lines{"P1", "P2"}));

    record.FProjects = {"P2"};
    WriteJob(FIni, "J", record);
    EXPECT_EQ(Keys("job-project_J"), Lines{"0"});
    EXPECT_EQ(ReadJobProjects(FIni, "J"), Lines{"P2"});

    record.FProjects.clear();
    WriteJob(FIni, "J", record);
    Lines sections;
    FIni.ReadSections(sections);
    EXPECT_EQ(sections, Lines{"job_J"});
}

TEST_F(JobStoreTest, DeleteJobErasesBothSectionsOnly) {
    TJobRecord record;
    record.FProjects = {"P1"};
    WriteJob(FIni, "A", record);
    WriteJob(FIni, "B", record);
    DeleteJob(FIni, "A");
    Lines sections;
    FIni.ReadSections(sections);
    EXPECT_EQ(sections, (Lines{"job_B", "job-project_B"}));
    Lines jobs;
    ListJobs(FIni, jobs);
    EXPECT_EQ(jobs, Lines{"B"});
}

TEST_F(JobStoreTest, JobsAreListedInFileOrder) {
    FIni.WriteString("job_Zeta", "CbJobValid", "True");
    FIni.WriteString("project_P", "source", "/");
    FIni.WriteString("job_Alpha", "CbJobValid", "True");
    FIni.WriteString("job_job_x", "CbJobValid", "True"); // only the first prefix goes
    Lines jobs{"stale"};
    ListJobs(FIni, jobs);
    EXPECT_EQ(jobs, (Lines{"Zeta", "Alpha", "job_x"}));
}

} // namespace
