#include "Commands.h"

#include "CliProgress.h"
#include "JsonReport.h"
#include "StopSignal.h"
#include "engine/check/DeleteGuard.h"
#include "engine/check/MoveDetection.h"
#include "engine/project/ProjectRecord.h"
#include "engine/run/BackgroundRun.h"
#include "engine/volume/Volume.h"
#include "jobs/JobProcessor.h"
#include "jobs/JobRecord.h"
#include "jobs/JobState.h"

#include <ctime>
#include <iostream>
#include <vector>

namespace {

const std::string& StatusCompleted = ProcessStatusCompleted;
const std::string& StatusStopped = ProcessStatusStopped;

// Every line goes out through here: the progress line is erased first, so
// that a line never starts in the middle of it.
class TCliOutput {
public:
    // quiet: standard output is kept for one JSON object at the end.
    explicit TCliOutput(TCliProgress& progress, bool quiet = false) : FProgress(progress), FQuiet(quiet) {}

    void Out(const std::string& text, char end = '\n') {
        FProgress.Erase();
        if (!FQuiet) {
            std::cout << text << end;
        }
    }
    void Err(const std::string& text) {
        FProgress.Erase();
        std::cout.flush();
        std::cerr << text << '\n';
    }

private:
    TCliProgress& FProgress;
    bool FQuiet;
};

void PrintLines(const TStringList& lines) {
    for (const std::string& line : lines) {
        std::cout << line << '\n';
    }
}

void PrintPlan(TCliOutput& output, const char* kind, const TStringList& lines, char lineEnd) {
    for (const std::string& line : lines) {
        output.Out(std::string(kind) + '\t' + line, lineEnd);
    }
}

// One line per item the check could not examine or the apply could not do:
// the path and the system's reason.
void PrintFailures(TCliOutput& output, const std::vector<TItemFailure>& failures) {
    for (const TItemFailure& failure : failures) {
        output.Err(failure.FPath + ": " + failure.FReason);
    }
}

// Why a project was not completed, as the tool tells it; empty when it was.
std::string NotCompletedReason(const TBackgroundRun& run, bool completed) {
    if (completed) {
        return "";
    }
    std::string reason = ErrorMessage(run);
    if (reason.empty()) {
        reason = !run.FExceptionText.empty() ? run.FExceptionText
                 : StopSignalled()           ? StatusStopped + " (interrupted)"
                                             : StatusStopped;
    }
    return reason;
}

void PrintRun(TCliOutput& output, const TBackgroundRun& run, bool completed, bool withName) {
    PrintFailures(output, run.FPlan.FErrors);
    PrintFailures(output, run.FMoveFallbacks);
    PrintFailures(output, run.FNewResult.FFailures);
    PrintFailures(output, run.FUpdateResult.FFailures);
    PrintFailures(output, run.FDeleteResult.FFailures);
    const std::string indent = withName ? "  " : "";
    if (withName) {
        output.Out(run.FProjectName + ": " + (completed ? StatusCompleted : StatusStopped));
    }
    const auto counts = [&](const char* phase, const TPhaseResult& result) {
        output.Out(indent + phase + ": " + std::to_string(result.FDone) + " done, " +
                   std::to_string(result.FFailed) + " failed");
    };
    counts("new", run.FNewResult);
    counts("update", run.FUpdateResult);
    counts("delete", run.FDeleteResult);
    if (run.FMoveCount > 0) {
        output.Out(indent + "moved: " + std::to_string(run.FMoveCount));
    }
    if (!completed) {
        output.Err(run.FProjectName + ": " + NotCompletedReason(run, completed));
    }
}

int StatusOf(const TBackgroundRun& run, bool completed) {
    if (run.FDeleteGuardTripped) {
        return ExitDeleteGuard;
    }
    if (!completed) {
        return ExitNotCompleted;
    }
    const int failed = run.FNewResult.FFailed + run.FUpdateResult.FFailed + run.FDeleteResult.FFailed;
    return failed > 0 || !run.FPlan.FErrors.empty() ? ExitItemsFailed : ExitCompleted;
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

int CommandCheck(const TIniFile& ini, const std::string& projectName, char lineEnd, bool moves) {
    TBackgroundRun run;
    run.FProjectName = projectName;
    TCliProgress progress;
    TCliOutput output(progress);
    if (!CheckProject(ini, run, progress, StopSignalTest())) {
        output.Err(run.FErrorText.empty() ? projectName + ": " + StatusStopped + " (interrupted)"
                                          : ErrorMessage(run));
        return ExitNotCompleted;
    }
    PrintPlan(output, "new", run.FPlan.FNewList, lineEnd);
    PrintPlan(output, "update", run.FPlan.FUpdateList, lineEnd);
    PrintPlan(output, "delete", run.FPlan.FDeleteList, lineEnd);
    // The moves a sync would make: looked for when asked, or when they may spare the guard.
    TMovePlan movePlan;
    if (moves || WeighDeletions(run.FProject, run.FPlan).FTripped) {
        movePlan = FindProjectMoves(run.FProject, *OpenVolume(run.FSourceRoot), *OpenVolume(run.FTargetRoot),
                                    run.FPlan.FNewList, run.FPlan.FDeleteList, StopSignalTest());
    }
    if (moves) {
        for (const TMove& move : movePlan.FMoves) {
            output.Out("move\t" + move.FFrom + '\t' + move.FTo, lineEnd);
        }
    }
    PrintFailures(output, run.FPlan.FErrors);
    // A sync would refuse this plan: said here, without changing the status.
    if (const TDeleteGuardVerdict verdict = WeighDeletions(run.FProject, run.FPlan, movePlan.DeleteLines());
        verdict.FTripped) {
        output.Err(projectName + ": " + DeleteGuardText(verdict) + ": source " + run.FSourceRoot);
    }
    return run.FPlan.FErrors.empty() ? ExitCompleted : ExitItemsFailed;
}

int CommandSync(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName, bool json,
                int jobs, bool forceDelete, bool breakLock) {
    TCliProgress progress;
    TCliOutput output(progress, json);
    TJobProcessor processor(ini, runLog, "", progress, TRunControl{{}, StopSignalTest(), jobs, {}});
    processor.SetForceDelete(forceDelete);
    processor.SetBreakLock(breakLock);
    const std::time_t start = std::time(nullptr);
    const bool completed = processor.RunProject(projectName).FCompleted;
    PrintRun(output, processor.LastRun(), completed, false);
    const int status = StatusOf(processor.LastRun(), completed);
    if (json) {
        const TProjectReport report =
            MakeProjectReport(processor.LastRun(), start, std::time(nullptr), status,
                              NotCompletedReason(processor.LastRun(), completed));
        std::cout << SyncJson(report, runLog.DayLogFileName()) << std::endl;
    }
    return status;
}

int CommandRunJob(const TIniFile& ini, const TRunLog& runLog, const std::string& jobName, bool json, int jobs,
                  bool forceDelete, bool breakLock) {
    if (!JobExists(ini, jobName)) {
        const std::string error = "No job named \"" + jobName + "\" in " + ini.FileName();
        std::cerr << error << '\n';
        if (json) {
            const std::time_t now = std::time(nullptr);
            std::cout << RunJobJson(jobName, now, now, ExitNotCompleted, {}, runLog.DayLogFileName(), error)
                      << std::endl;
        }
        return ExitNotCompleted;
    }
    TCliProgress progress;
    TCliOutput output(progress, json);
    TJobProcessor processor(ini, runLog, jobName, progress, TRunControl{{}, StopSignalTest(), jobs, {}});
    processor.SetForceDelete(forceDelete);
    processor.SetBreakLock(breakLock);
    const TJobState state(ini.FileName());
    state.RecordStart(jobName, Now());
    const std::time_t start = std::time(nullptr);
    std::vector<TProjectReport> reports;
    int status = ExitCompleted;
    // What ended the run early: a log item that could not be written.
    std::string error;
    for (const std::string& projectName : ReadJobProjects(ini, jobName)) {
        if (StopSignalled()) {
            status = ExitNotCompleted; // the projects after a stopped one do not run
            break;
        }
        const std::time_t projectStart = std::time(nullptr);
        bool completed = false;
        try {
            completed = processor.RunProject(projectName).FCompleted;
        } catch (const std::exception& failure) {
            error = failure.what();
            output.Err("pairwell-cli: " + error);
            status = ExitNotCompleted;
            break;
        }
        PrintRun(output, processor.LastRun(), completed, true);
        const int projectStatus = StatusOf(processor.LastRun(), completed);
        status = std::max(status, projectStatus);
        if (json) {
            reports.push_back(MakeProjectReport(processor.LastRun(), projectStart, std::time(nullptr),
                                                projectStatus,
                                                NotCompletedReason(processor.LastRun(), completed)));
        }
    }
    state.RecordEnd(jobName, Now(), status == ExitCompleted && AllClean(processor.Results()));
    if (json) {
        std::cout << RunJobJson(jobName, start, std::time(nullptr), status, reports, runLog.DayLogFileName(),
                                error)
                  << std::endl;
    }
    return status;
}
