#pragma once

#include "JobState.h"
#include "config/DateTime.h"
#include "config/IniFile.h"

#include <map>
#include <optional>
#include <string>

// The stale-backup alert: an enabled job whose "StaleDays" is above 0 and
// that has had no run without failures for that many days. The days count
// from the end of the job's last clean run, or from its first start when it
// never had one; a job that never started has nothing to count from.
// Returns the whole days without a clean run when the alert is due, and
// nothing otherwise.
std::optional<int> StaleBackupDays(int staleDays, bool enabled, const TJobRunState& state, TDateTime now);

// The same for a stored job: its "CbJobValid" and "StaleDays" (an unreadable
// number is no alert), and its state from the file beside the configuration.
std::optional<int> ReadStaleBackupDays(const TIniFile& ini, const std::string& jobName, TDateTime now);

// The row's text for an alert of that many days.
std::string StaleBackupText(int days);

// The alert's notice is told at most once a calendar day per job, by the
// window or the daemon, across restarts: the day of the last notice is kept
// in the state file. Where that file cannot be written, each teller still
// keeps the day for itself.
class TStaleNoticeDays {
public:
    explicit TStaleNoticeDays(const std::string& configFile) : FState(configFile) {}
    // True when the job's notice is to be told now (and it counts as told).
    bool Claim(const std::string& jobName, TDateTime now);

private:
    TJobState FState;
    std::map<std::string, TDateTime> FToldOn; // only where the file failed
};
