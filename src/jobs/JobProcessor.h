#pragma once

#include "config/IniFile.h"
#include "engine/BackgroundRun.h"
#include "engine/Progress.h"
#include "runlog/RunLog.h"

#include <string>
#include <vector>

// How one project of a job run ended.
struct TProjectRunResult {
    std::string FProjectName;
    bool FCompleted = false; // "完成"; otherwise "中止"
    std::string FErrorText;
    // What ended the run when an error did; never logged, shown by the command-line tool.
    std::string FExceptionText;
    int FNewDone = 0, FNewFailed = 0;
    int FUpdateDone = 0, FUpdateFailed = 0;
    int FDeleteDone = 0, FDeleteFailed = 0;

    int FailedCount() const { return FNewFailed + FUpdateFailed + FDeleteFailed; }
};

// Runs stored projects unattended, as a scheduled job does: for each project
// a check, an apply and one run-log item. Construction opens today's day log.
// Not a thread itself: the window and the command-line tool decide where
// Execute runs.
class TJobProcessor {
public:
    TJobProcessor(const TIniFile& iniFile, const TRunLog& runLog, std::string jobName,
                  TProgressSink& progress = SilentProgress());

    // Every project of the job, in the order of its project list.
    void Execute();
    // One project: check, apply, closing elements and the item. An error while
    // closing the item propagates (it ends a job's run).
    TProjectRunResult RunProject(const std::string& projectName);

    const std::vector<TProjectRunResult>& Results() const { return FResults; }

private:
    bool CheckProject();
    bool ApplyPlan();

    const TIniFile& FIniFile;
    const TRunLog& FRunLog;
    std::string FJobName;
    TProgressSink& FProgress;
    TBackgroundRun FRun;
    std::vector<TProjectRunResult> FResults;
};
