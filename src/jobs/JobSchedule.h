#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"

#include <optional>
#include <string>

// When a job's monitor row arms its alarm next. Times of day are compared on
// the reference day 2005-01-01 at whole minutes; the result is the armed time
// on that day, or NothingArmed.

inline constexpr TDateTime NothingArmed{};
// What a row shows instead of a time when nothing is armed.
inline const std::string NotArmedText = "暂停";

// 2005-01-01 00:00.
TDateTime ScheduleReferenceDay();

// The stored texts of section "job_" + name that the schedule reads; a
// missing key is nullopt.
struct TJobScheduleTexts {
    std::optional<std::string> FEditMinute;
    std::optional<std::string> FCbTime;
    std::optional<std::string> FDateJob;
    std::optional<std::string> FTimeBegin;
    std::optional<std::string> FTimeEnd;
    std::optional<std::string> FCbJobValid;
    std::optional<std::string> FRbDay;
    std::optional<std::string> FRbChange;  // runs on changes instead: no time is armed
    std::optional<std::string> FRbConnect; // runs when its folders appear: no time is armed

    bool operator==(const TJobScheduleTexts&) const = default;
};

TJobScheduleTexts ReadJobScheduleTexts(const TIniFile& ini, const std::string& jobName);

// The next run of a job rescheduled at now:
// - disabled ("CbJobValid" not exactly "True"): nothing;
// - daily ("RbDay" exactly "True"): the hour and minute of "DateJob";
// - periodic: now (or, outside the window "TimeBegin".."TimeEnd", both ends
//   included, the beginning) plus "EditMinute" minutes, or hours when
//   "CbTime" is not 0, in which case the sum keeps only its hour (wrapping at
//   midnight). A next time outside the window arms the window's first run,
//   the beginning plus one period, so the job runs again the next day.
// Any missing time or unconvertible value arms nothing, and so does a job
// that runs on changes ("RbChange") or on its folders appearing ("RbConnect").
TDateTime NextRunTime(const TJobScheduleTexts& texts, TDateTime now);
// The same, read from the job's section; an unreadable option of the job
// (such as "QuietSeconds") arms nothing either.
TDateTime NextRunTime(const TIniFile& ini, const std::string& jobName, TDateTime now);

// What "next-run" and a row show for the kinds that arm no time.
inline const std::string ChangeKindText = "变化时";
inline const std::string ConnectKindText = "连接时";

// "HH:mm" of an armed time; NotArmedText for NothingArmed.
std::string FormatNextRun(TDateTime nextRun);
