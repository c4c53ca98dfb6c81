#pragma once

#include "Apply.h"
#include "Plan.h"
#include "Progress.h"
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
    // With a rejected folder: its path and the system's reason, for the user.
    std::string FErrorDetail;
    TPlan FPlan;
    TLogBuffer FLogBuffer;
    TPhaseResult FNewResult;
    TPhaseResult FUpdateResult;
    TPhaseResult FDeleteResult;
};

// Checks the stored project run.FProjectName, reading its section afresh.
// False with run.FErrorText set ("源文件夹无效", "目标文件夹无效") when a
// folder is rejected; a source that cannot be listed is rejected too, never
// taken for empty. What the check could not examine is in run.FPlan.FErrors. Records "ProcessType" in the log
// buffer. Raises EConvertError on a stored value that cannot be converted.
bool CheckProject(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress);

// Applies run.FPlan after a successful CheckProject: new, update, and (with
// deletion on, outside deploy mode) delete. Logs "SourcePath" and
// "TargetPath" first and always logs the delete counts. False with
// "指定的发布目录无效" when deploy mode has a blank deploy folder.
bool ApplyPlan(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress);

inline const std::string ErrorInvalidSource = "源文件夹无效";
inline const std::string ErrorInvalidTarget = "目标文件夹无效";
inline const std::string ErrorInvalidDeploy = "指定的发布目录无效";
inline const std::string ProcessTypeSync = "同步";
inline const std::string ProcessTypeDeploy = "发布";
