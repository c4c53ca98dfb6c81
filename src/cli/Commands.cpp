#include "Commands.h"

#include "CliProgress.h"
#include "StopSignal.h"
#include "engine/BackgroundRun.h"
#include "engine/ProjectRecord.h"
#include "jobs/JobProcessor.h"
#include "jobs/JobRecord.h"

#include <iostream>
#include <vector>

namespace {

const std::string& StatusCompleted = ProcessStatusCompleted;
const std::string& StatusStopped = ProcessStatusStopped;

// Every line goes out through here: the progress line is erased first, so
// that a line never starts in the middle of it.
class TCliOutput {
public:
    explicit TCliOutput(TCliProgress& progress) : FProgress(progress) {}

    void Out(const std::string& text, char end = '\n') {
        FProgress.Erase();
        std::cout << text << end;
    }
    void Err(const std::string& text) {
        FProgress.Erase();
        std::cout.flush();
        std::cerr << text << '\n';
    }

private:
    TCliProgress& FProgress;
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

void PrintRun(TCliOutput& output, const TBackgroundRun& run, bool completed, bool withName) {
    PrintFailures(output, run.FPlan.FErrors);
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
    if (!completed) {
        std::string reason = ErrorMessage(run);
        if (reason.empty()) {
            reason = !run.FExceptionText.empty() ? run.FExceptionText
                     : StopSignalled()           ? StatusStopped + " (interrupted)"
                                                 : StatusStopped;
        }
        output.Err(run.FProjectName + ": " + reason);
    }
}

int StatusOf(const TBackgroundRun& run, bool completed) {
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

int CommandCheck(const TIniFile& ini, const std::string& projectName, char lineEnd) {
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
    PrintFailures(output, run.FPlan.FErrors);
    return run.FPlan.FErrors.empty() ? ExitCompleted : ExitItemsFailed;
}

int CommandSync(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName, int jobs) {
    TCliProgress progress;
    TCliOutput output(progress);
    TJobProcessor processor(ini, runLog, "", progress, TRunControl{{}, StopSignalTest(), jobs, {}});
    const bool completed = processor.RunProject(projectName).FCompleted;
    PrintRun(output, processor.LastRun(), completed, false);
    return StatusOf(processor.LastRun(), completed);
}

int CommandRunJob(const TIniFile& ini, const TRunLog& runLog, const std::string& jobName, int jobs) {
    if (!JobExists(ini, jobName)) {
        std::cerr << "No job named \"" << jobName << "\" in " << ini.FileName() << '\n';
        return ExitNotCompleted;
    }
    TCliProgress progress;
    TCliOutput output(progress);
    TJobProcessor processor(ini, runLog, jobName, progress, TRunControl{{}, StopSignalTest(), jobs, {}});
    int status = ExitCompleted;
    for (const std::string& projectName : ReadJobProjects(ini, jobName)) {
        if (StopSignalled()) {
            return ExitNotCompleted; // the projects after a stopped one do not run
        }
        const bool completed = processor.RunProject(projectName).FCompleted;
        PrintRun(output, processor.LastRun(), completed, true);
        status = std::max(status, StatusOf(processor.LastRun(), completed));
    }
    return status;
}
