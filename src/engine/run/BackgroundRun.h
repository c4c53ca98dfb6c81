#pragma once

#include "RemoteLock.h"
#include "config/IniFile.h"
#include "engine/apply/Apply.h"
#include "engine/project/Moves.h"
#include "engine/project/Plan.h"
#include "engine/project/Progress.h"
#include "engine/project/ProjectRecord.h"
#include "engine/project/StopTest.h"
#include "runlog/RunLog.h"

#include <memory>
#include <string>

// The state of one stored project's unattended run: what its check found and
// what its apply did, with the run-log item being built.
struct TBackgroundRun {
    std::string FProjectName;
    // The project as the check read it; the apply works with the same values.
    TProjectRecord FProject;
    std::string FSourceRoot;
    std::string FTargetRoot;
    std::string FErrorText;
    // What and where, for people: the project, the folder and why it was
    // rejected. Not logged: the log keeps the error text alone.
    std::string FErrorDetail;
    // What ended the run when an error did; not logged.
    std::string FExceptionText;
    TPlan FPlan;
    // Copies at once for this run; 0: the "[system]" key "ParallelCopies" decides.
    int FParallelCopies = 0;
    TLogBuffer FLogBuffer;
    // The moves found in the plan before the apply, and how many were made.
    TMovePlan FMoves;
    int FMoveCount = 0;
    // The moves whose rename failed and whose files were copied and deleted
    // instead: the old full path and why. No failed items.
    std::vector<TItemFailure> FMoveFallbacks;
    TPhaseResult FNewResult;
    TPhaseResult FUpdateResult;
    TPhaseResult FDeleteResult;
    // Deletions go ahead even where the deletion guard would refuse them.
    bool FForceDelete = false;
    // The apply refused the plan: it trips the deletion guard.
    bool FDeleteGuardTripped = false;
    // When the run started: the name of its folder of versions.
    TDateTime FBeginTime = Now();
    // What the apply kept of overwritten and deleted files; null without versioning.
    std::shared_ptr<TVersionStore> FVersions;
    // The run will write: the check takes the lock of the receiving folder (RemoteLock.h), held until
    // FLock goes. With FBreakLock it takes over a lock that another run holds.
    bool FTakesLock = false;
    bool FBreakLock = false;
    std::unique_ptr<TRemoteLock> FLock;
};

// Checks the stored project run.FProjectName, reading its section afresh in
// one snapshot. Relative folders are taken from the configuration file's
// folder. False with run.FErrorText ("源文件夹无效", "目标文件夹无效", "指定的发布目录无效") and
// run.FErrorDetail set when a folder is rejected, also a folder on another machine that cannot be reached
// (ssh's reason), or a receiving folder whose lock another run holds (with run.FTakesLock); an unknown
// project has no source folder, and a source that cannot be listed, or that lacks the project's marker file,
// is rejected too, never taken for empty. What the check could not examine is in run.FPlan.FErrors. Records
// "ProcessType" in the log buffer. Raises EConvertError on a stored value that cannot be converted. False,
// with no error text, when the stop test ended the check. False with ErrorConnectionLost and ssh's reason
// when a folder was lost mid-check (its connection not made again).
bool CheckProject(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress,
                  const TStopTest& stopRequested = {});

// Applies run.FPlan after a successful CheckProject, with the settings that
// check read: new, update, and (with deletion on, outside deploy mode)
// delete. Logs "SourcePath" and "TargetPath" first and always logs the delete
// counts. Where the project detects moves (MoveDetection.h) they are found
// first and made before any copy, and "MoveCount" is logged; the deletion
// guard does not count their delete lines. False with "指定的发布目录无效" when deploy mode has a blank
// deploy folder. False, with nothing written, when the plan trips the deletion guard (DeleteGuard.h) and the
// run is not forced. After the phases the receiving file system is flushed to its device; a flush that fails
// fails the run with "写入设备失败" and the reason. False, with no error text, when the stop test ended a
// phase: the later phases do not run. A folder lost mid-phase ends the run there too, with
// ErrorConnectionLost and ssh's reason; the items after it are not tried.
bool ApplyPlan(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress,
               const TStopTest& stopRequested = {});

// Refuses a checked background run whose plan (less the delete lines of its moves) trips the guard, unless
// the run is forced: sets its error text (the guard's text), its detail (the source folder) and
// FDeleteGuardTripped, empties its log item (which is then logged as a refused source is), and returns true.
bool DeleteGuardRefuses(TBackgroundRun& run);

// The error text followed by its detail, as the command-line tool shows it.
std::string ErrorMessage(const TBackgroundRun& run);

inline const std::string ErrorInvalidSource = "源文件夹无效";
inline const std::string ErrorInvalidTarget = "目标文件夹无效";
inline const std::string ErrorInvalidDeploy = "指定的发布目录无效";
inline const std::string ErrorFlushFailed = "写入设备失败";
// A folder on another machine lost mid-run, its connection not made again; followed by ssh's reason.
inline const std::string ErrorConnectionLost = "与服务器的连接已断开";
inline const std::string ProcessTypeSync = "同步";
inline const std::string ProcessTypeDeploy = "发布";
