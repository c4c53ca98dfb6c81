#include "JobProcessor.h"

#include "JobRecord.h"

TJobProcessor::TJobProcessor(const TIniFile& iniFile, const TRunLog& runLog, std::string jobName,
                             TProgressSink& progress)
    : FIniFile(iniFile), FRunLog(runLog), FJobName(std::move(jobName)), FProgress(progress) {
    FRunLog.OpenDayLog();
}

void TJobProcessor::Execute() {
    for (const std::string& projectName : ReadJobProjects(FIniFile, FJobName)) {
        RunProject(projectName);
    }
}

bool TJobProcessor::CheckProject() {
    return ::CheckProject(FIniFile, FRun, FProgress);
}

bool TJobProcessor::ApplyPlan() {
    return ::ApplyPlan(FIniFile, FRun, FProgress);
}

TProjectRunResult TJobProcessor::RunProject(const std::string& projectName) {
    FRun = TBackgroundRun{};
    FRun.FProjectName = projectName;
    const TDateTime beginTime = Now();
    bool completed = false;
    std::string exceptionText;
    try {
        completed = CheckProject() && ApplyPlan();
    } catch (const std::exception& error) {
        exceptionText = error.what(); // recorded as stopped; the next project still runs
    } catch (...) {
        exceptionText = "unknown error";
    }

    TLogBuffer& log = FRun.FLogBuffer;
    log.WriteLogElement("Project", FRun.FProjectName);
    log.WriteLogElement("ProcessStatus", completed ? "完成" : "中止");
    if (!FRun.FErrorText.empty()) {
        log.WriteLogElement("Error", FRun.FErrorText);
    }
    log.WriteLogElement("BeginTime", FormatTimeOfDay(beginTime));
    log.WriteLogElement("EndTime", FormatTimeOfDay(Now()));
    log.WriteLogElement("SpendTime", FormatSpendTime(Now().FMilliseconds - beginTime.FMilliseconds));

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
    FResults.push_back(result);

    FRunLog.CloseLogItem(log);
    return result;
}
