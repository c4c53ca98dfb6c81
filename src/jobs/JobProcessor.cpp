#include "JobProcessor.h"

#include "JobRecord.h"
#include "JobState.h"
#include "engine/versions/Versions.h"

#include <algorithm>
#include <chrono>

TJobProcessor::TJobProcessor(const TIniFile& iniFile, const TRunLog& runLog, std::string jobName,
                             TProgressSink& progress, TRunControl control, TRunLog::TClock wallClock,
                             TSteadyClock steadyClock)
    : FIniFile(iniFile), FRunLog(runLog), FJobName(std::move(jobName)), FProgress(progress),
      FControl(std::move(control)), FWallClock(std::move(wallClock)), FSteadyClock(std::move(steadyClock)) {
    FRunLog.OpenDayLog();
}

void TJobProcessor::Execute() {
    const TJobState state(FIniFile.FileName());
    state.RecordStart(FJobName, FWallClock());
    bool stopped = false;
    try {
        for (const std::string& projectName : ReadJobProjects(FIniFile, FJobName)) {
            if (SafePoint()) {
                stopped = true;
                break;
            }
            RunProject(projectName);
        }
    } catch (...) {
        state.RecordEnd(FJobName, FWallClock(), false);
        throw;
    }
    state.RecordEnd(FJobName, FWallClock(), !stopped && AllClean(FResults));
}

bool AllClean(const std::vector<TProjectRunResult>& results) {
    return std::all_of(results.begin(), results.end(), [](const TProjectRunResult& result) {
        return result.FCompleted && result.FailedCount() == 0 && result.FCheckFailed == 0;
    });
}

bool TJobProcessor::CheckProject() {
    return ::CheckProject(FIniFile, FRun, FTracker, [this] { return SafePoint(); });
}

bool TJobProcessor::ApplyPlan() {
    FInApply = true;
    struct TLeave {
        bool& FFlag;
        ~TLeave() { FFlag = false; }
    } leave{FInApply};
    return ::ApplyPlan(FIniFile, FRun, FTracker, [this] { return SafePoint(); });
}

bool TJobProcessor::SafePoint() {
    if (FControl.FPausePoint && !InsideFileOperation()) {
        FControl.FPausePoint();
    } else if (FControl.FPauseWanted && FControl.FPauseWanted()) {
        TFileOperationScope::AskToHold();
    }
    if (StopRequestedBy(FControl.FStopRequested)) {
        FStopSeen = true;
        return true;
    }
    return false;
}

bool TJobProcessor::InsideFileOperation() const {
    // An item's copy asks the stop test from within; copies on other threads
    // of a parallel apply never ask it, and hold between their files instead.
    return FInApply && TFileOperationScope::Inside();
}

void TJobProcessor::TOperationTracker::ShowStatus(const std::string& text) {
    FOwner.FProgress.ShowStatus(text);
}

void TJobProcessor::TOperationTracker::ResetProgress(std::size_t max) {
    FOwner.FProgress.ResetProgress(max);
}

void TJobProcessor::TOperationTracker::ShowItem(const std::string& prefix, const std::string& path) {
    FOwner.FProgress.ShowItem(prefix, path);
}

TProjectRunResult TJobProcessor::RunProject(const std::string& projectName) {
    FRun = TBackgroundRun{};
    FRun.FProjectName = projectName;
    FRun.FForceDelete = FForceDelete;
    FRun.FTakesLock = true;
    FRun.FBreakLock = FBreakLock;
    FRun.FParallelCopies = FControl.FParallelCopies;
    FStopSeen = false;
    const TDateTime beginTime = FWallClock();
    FRun.FBeginTime = beginTime;
    const auto begin = FSteadyClock();
    bool completed = false;
    std::string exceptionText;
    try {
        // A stopped check or apply is "中止" even where it had nothing left to do.
        completed = CheckProject() && ApplyPlan() && !FStopSeen;
    } catch (const std::exception& error) {
        exceptionText = error.what(); // recorded as stopped; the next project still runs
    } catch (...) {
        exceptionText = "unknown error";
    }

    FRun.FExceptionText = exceptionText;
    if (FRun.FVersions) {
        FRun.FVersions->Prune(); // after each run, also a stopped one
    }
    FRun.FLock.reset(); // the run's writes end here
    TLogBuffer& log = FRun.FLogBuffer;
    TRunItemEnd end;
    end.FProject = FRun.FProjectName;
    end.FCompleted = completed;
    end.FError = FRun.FErrorText;
    if (FRun.FVersions) {
        end.FVersionCount = FRun.FVersions->Count();
    }
    end.FBegin = beginTime;
    end.FEnd = FWallClock();
    end.FSpentMilliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(FSteadyClock() - begin).count();
    WriteRunItemEnd(log, end);

    TProjectRunResult result;
    result.FProjectName = FRun.FProjectName;
    result.FCompleted = completed;
    result.FErrorText = FRun.FErrorText;
    result.FExceptionText = exceptionText;
    result.FNewDone = FRun.FNewResult.FDone;
    result.FNewFailed = FRun.FNewResult.FFailed;
    result.FUpdateDone = FRun.FUpdateResult.FDone;
    result.FUpdateFailed = FRun.FUpdateResult.FFailed;
    result.FDeleteDone = FRun.FDeleteResult.FDone;
    result.FDeleteFailed = FRun.FDeleteResult.FFailed;
    result.FCheckFailed = static_cast<int>(FRun.FPlan.FErrors.size());
    FResults.push_back(result);

    FRunLog.CloseLogItem(log);
    return result;
}
