#include "Commands.h"

#include "CliProgress.h"
#include "engine/BackgroundRun.h"
#include "engine/ProjectRecord.h"
#include "jobs/JobProcessor.h"
#include "jobs/JobRecord.h"

#include <cstdio>
#include <iostream>

namespace {

void PrintLines(const TStringList& lines) {
    for (const std::string& line : lines) {
        std::cout << line << '\n';
    }
}

void PrintPlan(const char* kind, const TStringList& lines) {
    for (const std::string& line : lines) {
        std::cout << kind << '\t' << line << '\n';
    }
}

void PrintResult(const TProjectRunResult& result, bool withName) {
    const std::string indent = withName ? "  " : "";
    if (withName) {
        std::cout << result.FProjectName << ": " << (result.FCompleted ? "完成" : "中止") << '\n';
    }
    std::cout << indent << "new: " << result.FNewDone << " done, " << result.FNewFailed << " failed\n"
              << indent << "update: " << result.FUpdateDone << " done, " << result.FUpdateFailed
              << " failed\n"
              << indent << "delete: " << result.FDeleteDone << " done, " << result.FDeleteFailed
              << " failed\n";
    if (!result.FCompleted) {
        const std::string reason = !result.FErrorText.empty() ? result.FErrorText : result.FExceptionText;
        std::cerr << result.FProjectName << ": " << (reason.empty() ? "中止" : reason) << '\n';
    }
}

int StatusOf(const TProjectRunResult& result) {
    if (!result.FCompleted) {
        return ExitNotCompleted;
    }
    return result.FailedCount() > 0 ? ExitItemsFailed : ExitCompleted;
}

} // namespace

int CommandProjects(const TIniFile& ini) {
    TStringList names;
    ListProjects(ini, names);
    PrintLines(names);
    return ExitCompleted;
}

int CommandJobs(const TIniFile& ini) {
    TStringList names;
    ListJobs(ini, names);
    PrintLines(names);
    return ExitCompleted;
}

int CommandCheck(const TIniFile& ini, const std::string& projectName) {
    TBackgroundRun run;
    run.FProjectName = projectName;
    TCliProgress progress;
    if (!CheckProject(ini, run, progress)) {
        std::cerr << run.FErrorText << '\n';
        return ExitNotCompleted;
    }
    PrintPlan("new", run.FPlan.FNewList);
    PrintPlan("update", run.FPlan.FUpdateList);
    PrintPlan("delete", run.FPlan.FDeleteList);
    return ExitCompleted;
}

int CommandSync(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName) {
    TCliProgress progress;
    TJobProcessor processor(ini, runLog, "", progress);
    const TProjectRunResult result = processor.RunProject(projectName);
    PrintResult(result, false);
    return StatusOf(result);
}

int CommandRunJob(const TIniFile& ini, const TRunLog& runLog, const std::string& jobName) {
    if (!JobExists(ini, jobName)) {
        std::cerr << "No job named \"" << jobName << "\" in " << ini.FileName() << '\n';
        return ExitNotCompleted;
    }
    int status = ExitCompleted;
    TCliProgress progress;
    TJobProcessor processor(ini, runLog, jobName, progress);
    try {
        processor.Execute();
    } catch (...) {
        status = ExitNotCompleted; // the item of a project could not be written: the run ends
        for (const TProjectRunResult& result : processor.Results()) {
            PrintResult(result, true);
        }
        throw;
    }
    for (const TProjectRunResult& result : processor.Results()) {
        PrintResult(result, true);
        status = std::max(status, StatusOf(result));
    }
    return status;
}
