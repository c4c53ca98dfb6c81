#pragma once

#include "JobState.h"
#include "config/DateTime.h"
#include "config/IniFile.h"

#include <optional>

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
