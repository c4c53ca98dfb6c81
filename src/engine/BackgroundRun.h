#pragma once

#include "Apply.h"
#include "Plan.h"
#include "Progress.h"
#include "StopTest.h"
#include "config/IniFile.h"
#include "runlog/RunLog.h"

#include <string>

// The state of one stored project's unattended run: what its check found and
// what its apply did, with the run-log item being built.
struct TBackgroundRun {
    std::string FProjectName;
    std::string FSourceRoot;
    std::string FTargetRoot;
    std::string FErrorText;
    TPlan FPlan;
    TLogBuffer FLogBuffer;
    TPhaseResult FNewResult;
    TPhaseResult FUpdateResult;
    TPhaseResult FDeleteResult;
};

// Checks the stored project run.FProjectName, reading its section afresh.
// False with run.FErrorText set ("源文件夹无效", "目标文件夹无效") when a
// folder is rejected. Records "ProcessType" in the log buffer. Raises
// EConvertError on a stored value that cannot be converted. False, with no
// error text, when the stop test ended the check.
bool CheckProject(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress,
                  const TStopTest& stopRequested = {});

// Applies run.FPlan after a successful CheckProject: new, update, and (with
// deletion on, outside deploy mode) delete. Logs "SourcePath" and
// "TargetPath" first and always logs the delete counts. False with
// "指定的发布目录无效" when deploy mode has a blank deploy folder. False, with
// no error text, when the stop test ended a phase: the later phases do not run.
bool ApplyPlan(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress,
               const TStopTest& stopRequested = {});

inline const std::string ErrorInvalidSource = "源文件夹无效";
inline const std::string ErrorInvalidTarget = "目标文件夹无效";
inline const std::string ErrorInvalidDeploy = "指定的发布目录无效";
inline const std::string ProcessTypeSync = "同步";
inline const std::string ProcessTypeDeploy = "发布";
