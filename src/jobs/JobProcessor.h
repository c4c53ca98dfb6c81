#pragma once

#include "config/IniFile.h"
#include "engine/project/Progress.h"
#include "engine/project/StopTest.h"
#include "engine/run/BackgroundRun.h"
#include "runlog/RunItemEnd.h"
#include "runlog/RunLog.h"

#include <chrono>
#include <functional>
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
    int FCheckFailed = 0; // entries the check could not examine

    int FailedCount() const { return FNewFailed + FUpdateFailed + FDeleteFailed; }
};

// How the owner of a run holds it and ends it early. Both are called on the
// thread that runs the projects, at safe points only: between two projects,
// and between two entries of a check or an apply, never while a file is
// being copied or deleted.
struct TRunControl {
    // Returns when the run may go on (blocks while it is paused).
    std::function<void()> FPausePoint;
    // True once the run should end: the current project is logged "中止" and
    // no further project runs.
    TStopTest FStopRequested;
    // How many copies an apply makes at once; 0: the configuration's
    // "[system]" key "ParallelCopies" decides.
    int FParallelCopies = 0;
    // True while a pause is wanted, without waiting (optional): copies that run
    // side by side are then brought to their next safe point together.
    std::function<bool()> FPauseWanted;
};

// Every project completed without a failed item or an entry the check could
// not examine: a clean run, as the job's state records it.
bool AllClean(const std::vector<TProjectRunResult>& results);

// Runs stored projects unattended, as a scheduled job does: for each project
// a check, an apply and one run-log item. Construction opens today's day log.
// Not a thread itself: TJobThread runs it for a job's monitor row, the
// command-line tool on its own thread.
class TJobProcessor {
public:
    // The duration of a project's run ("SpendTime") comes from a steady clock,
    // which daylight-saving changes and clock adjustments do not move.
    using TSteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    TJobProcessor(const TIniFile& iniFile, const TRunLog& runLog, std::string jobName,
                  TProgressSink& progress = SilentProgress(), TRunControl control = {},
                  TRunLog::TClock wallClock = Now, TSteadyClock steadyClock = std::chrono::steady_clock::now);
    TJobProcessor(const TJobProcessor&) = delete;
    TJobProcessor& operator=(const TJobProcessor&) = delete;

    // Every project of the job, in the order of its project list, until a
    // stop; records the job's start and end in the state file beside the
    // configuration.
    void Execute();
    // One project: check, apply, closing elements and the item. An error while
    // closing the item propagates (it ends a job's run).
    TProjectRunResult RunProject(const std::string& projectName);
    // The last project's run: its plan, what each phase did and why it failed.
    const TBackgroundRun& LastRun() const { return FRun; }

    const std::vector<TProjectRunResult>& Results() const { return FResults; }

    // Lets deletions through that the deletion guard would refuse (the
    // command-line tool's --force-delete); off by default.
    void SetForceDelete(bool force) { FForceDelete = force; }
    // Takes over the lock of a receiving folder on another machine that another run holds (the
    // command-line tool's --break-lock); off by default.
    void SetBreakLock(bool breakLock) { FBreakLock = breakLock; }

private:
    // Forwards progress.
    class TOperationTracker : public TProgressSink {
    public:
        explicit TOperationTracker(TJobProcessor& owner) : FOwner(owner) {}
        void ShowStatus(const std::string& text) override;
        void ResetProgress(std::size_t max) override;
        void ShowItem(const std::string& prefix, const std::string& path) override;

    private:
        TJobProcessor& FOwner;
    };

    bool CheckProject();
    bool ApplyPlan();
    // The stop test given to the check and the apply.
    bool SafePoint();
    bool InsideFileOperation() const;

    const TIniFile& FIniFile;
    const TRunLog& FRunLog;
    std::string FJobName;
    TProgressSink& FProgress;
    TRunControl FControl;
    TRunLog::TClock FWallClock;
    TSteadyClock FSteadyClock;
    TOperationTracker FTracker{*this};
    TBackgroundRun FRun;
    bool FStopSeen = false;
    bool FForceDelete = false;
    bool FBreakLock = false;
    // An apply item is under way from its progress line until its log element.
    bool FInApply = false;
    std::vector<TProjectRunResult> FResults;
};
