#pragma once

#include "engine/run/BackgroundRun.h"

#include <ctime>
#include <string>
#include <vector>

// The one JSON object that "sync --json" and "run-job --json" print when the
// run ends (schema "pairwell-run/1", described in the README). Paths and
// names are bytes; a byte that is not part of valid UTF-8 is written as U+FFFD.

// A JSON string literal of text.
std::string JsonString(const std::string& text);
// "2026-03-10T02:30:00+01:00": local time with its offset.
std::string JsonTime(std::time_t time);
// "completed", "failed-items" or "not-completed", after an exit status.
std::string JsonStatus(int exitStatus);

// What one project's run did, as the report tells it.
struct TProjectReport {
    std::string FProject;
    std::time_t FStart = 0;
    std::time_t FEnd = 0;
    int FExitStatus = 0;
    std::string FError;
    int FCheckFailed = 0;
    int FNewDone = 0, FNewFailed = 0;
    int FUpdateDone = 0, FUpdateFailed = 0;
    int FDeleteDone = 0, FDeleteFailed = 0;
    struct TFailure {
        std::string FPhase, FPath, FReason;
    };
    std::vector<TFailure> FFailures;
};

TProjectReport MakeProjectReport(const TBackgroundRun& run, std::time_t start, std::time_t end,
                                 int exitStatus, const std::string& error);

// The object of "sync --json".
std::string SyncJson(const TProjectReport& project, const std::string& logFile);
// The object of "run-job --json": the totals and one entry per project run.
// error: why the job could not run or ended early; empty when it ran.
std::string RunJobJson(const std::string& job, std::time_t start, std::time_t end, int exitStatus,
                       const std::vector<TProjectReport>& projects, const std::string& logFile,
                       const std::string& error = "");
