#pragma once

#include "RunLog.h"
#include "config/DateTime.h"

#include <cstdint>
#include <optional>
#include <string>

inline const std::string ProcessStatusCompleted = "完成";
inline const std::string ProcessStatusStopped = "中止";

// How an unattended run ended, as the closing elements of its item say it.
struct TRunItemEnd {
    std::string FProject;
    bool FCompleted = false;          // "完成"; otherwise "中止"
    std::string FError;               // "Error", written when set
    std::optional<int> FVersionCount; // "VersionCount", written for runs that keep versions
    TDateTime FBegin;
    TDateTime FEnd;
    std::int64_t FSpentMilliseconds = 0; // from a steady clock
};

// Writes the elements that close the item of a background run or a restore,
// after those of what it did: "Project", "ProcessStatus", "Error",
// "VersionCount", "BeginTime", "EndTime" and "SpendTime".
void WriteRunItemEnd(TLogBuffer& log, const TRunItemEnd& end);
