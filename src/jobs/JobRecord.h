#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"
#include "config/StringList.h"

#include <string>

inline const std::string JobSectionPrefix = "job_";
inline const std::string JobProjectSectionPrefix = "job-project_";

// The units of a periodic job's period ("CbTime").
enum TPeriodUnit : int {
    PeriodUnitMinutes = 0,
    PeriodUnitHours = 1, // any value but 0 counts as hours
};

// A job as the editor shows it: the schedule and the ordered project list.
struct TJobRecord {
    int FEditMinute = 0; // length of the period
    int FCbTime = PeriodUnitMinutes;
    TDateTime FDateJob = Now();   // daily time; only hour and minute count
    TDateTime FTimeBegin = Now(); // window of a periodic job, both ends included
    TDateTime FTimeEnd = Now();
    bool FCbJobValid = false; // enabled
    bool FRbDay = false;      // daily; the schedule looks at this alone
    bool FRbPeriod = false;   // periodic; only restores the editor
    TStringList FProjects;

    // Absent keys keep a job as it was before these existed.
    bool FCatchUp = false;        // a missed run is made up for after a start or a wake-up
    bool FRbChange = false;       // runs when its source folders change
    bool FRbConnect = false;      // runs when all its folders have come to exist
    int FQuietSeconds = 10;       // change trigger: quiet time before a run
    int FMaxWaitSeconds = 300;    // change trigger: at most this long after the first change
    int FMinIntervalSeconds = 60; // change trigger: at least this long after the last run began
    int FStaleDays = 0;           // alert after this many days without a clean run; 0: off
};

// The stored keys of section "job_" + name, in the order a save writes them.
namespace JobKey {
inline const std::string EditMinute = "EditMinute";
inline const std::string CbTime = "CbTime";
inline const std::string DateJob = "DateJob";
inline const std::string TimeBegin = "TimeBegin";
inline const std::string TimeEnd = "TimeEnd";
inline const std::string CbJobValid = "CbJobValid";
inline const std::string RbDay = "RbDay";
inline const std::string RbPeriod = "RbPeriod";
inline const std::string CatchUp = "CatchUp";
inline const std::string RbChange = "RbChange";
inline const std::string RbConnect = "RbConnect";
inline const std::string QuietSeconds = "QuietSeconds";
inline const std::string MaxWaitSeconds = "MaxWaitSeconds";
inline const std::string MinIntervalSeconds = "MinIntervalSeconds";
inline const std::string StaleDays = "StaleDays";
} // namespace JobKey

std::string JobSection(const std::string& name);
std::string JobProjectSection(const std::string& name);

// The job names in file order: sections beginning with "job_" (case counts),
// the bare "job_" excluded.
void ListJobs(const TIniFile& ini, TStringList& list);
// The project names of a job, in the order its keys stand.
TStringList ReadJobProjects(const TIniFile& ini, const std::string& jobName);
// Whether the job is listed or has a project list.
bool JobExists(const TIniFile& ini, const std::string& jobName);

// Reads the keys of catch-up, change and connect triggers and the stale alert
// from the job's section into record (the schedule keys and the project list
// are left as they are); a missing key takes its default. Raises
// EConvertError on a number that is not a whole number of 0 or more.
void ReadJobOptions(const TIniFile& ini, const std::string& name, TJobRecord& record);

// Writes the schedule keys in their order (other keys of the section
// stay), then replaces the project list by keys "0", "1", ...; an empty list
// leaves no project section.
void WriteJob(TIniFile& ini, const std::string& name, const TJobRecord& record);
// Erases both sections of the job.
void DeleteJob(TIniFile& ini, const std::string& name);
