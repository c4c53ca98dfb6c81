#include "RestoreCommand.h"

#include "Commands.h"
#include "JsonReport.h"
#include "StopSignal.h"
#include "VersionsCommand.h"
#include "engine/apply/VersionRestore.h"
#include "engine/run/BackgroundRun.h"
#include "engine/run/RemoteLock.h"
#include "runlog/RunItemEnd.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <vector>

namespace {

// What a restore came to, for its log item, its messages and its report.
struct TRestoreOutcome {
    std::string FError;   // the log's "Error": why nothing was restored
    std::string FDetail;  // where, added in the report
    std::string FMessage; // what and where, on standard error
    std::vector<TItemFailure> FListErrors;
    TRestoreResult FResult;
    std::vector<TRestoredFile> FRestored;
    std::optional<int> FVersionCount;
};

int StatusOf(const TRestoreOutcome& outcome) {
    if (!outcome.FError.empty() || outcome.FResult.FStopped) {
        return ExitNotCompleted;
    }
    const bool failed = outcome.FResult.FNewResult.FFailed + outcome.FResult.FUpdateResult.FFailed > 0;
    return failed || !outcome.FListErrors.empty() ? ExitItemsFailed : ExitCompleted;
}

std::string NotCompletedReason(const TRestoreOutcome& outcome) {
    if (!outcome.FError.empty()) {
        return outcome.FDetail.empty() ? outcome.FError : outcome.FError + ": " + outcome.FDetail;
    }
    return outcome.FResult.FStopped ? ProcessStatusStopped + " (interrupted)" : "";
}

TProjectReport ReportOf(const std::string& projectName, const TRestoreOutcome& outcome, std::time_t start,
                        int status) {
    TProjectReport report;
    report.FProject = projectName;
    report.FStart = start;
    report.FEnd = std::time(nullptr);
    report.FExitStatus = status;
    report.FError = NotCompletedReason(outcome);
    report.FCheckFailed = static_cast<int>(outcome.FListErrors.size());
    report.FNewDone = outcome.FResult.FNewResult.FDone;
    report.FNewFailed = outcome.FResult.FNewResult.FFailed;
    report.FUpdateDone = outcome.FResult.FUpdateResult.FDone;
    report.FUpdateFailed = outcome.FResult.FUpdateResult.FFailed;
    const auto add = [&](const char* phase, const std::vector<TItemFailure>& failures) {
        for (const TItemFailure& failure : failures) {
            report.FFailures.push_back({phase, failure.FPath, failure.FReason});
        }
    };
    add("check", outcome.FListErrors);
    add("new", outcome.FResult.FNewResult.FFailures);
    add("update", outcome.FResult.FUpdateResult.FFailures);
    return report;
}

} // namespace

int CommandRestore(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName,
                   const std::string& path, const std::optional<TDateTime>& at,
                   const std::optional<std::string>& to, bool json, bool breakLock) {
    std::string receivingRoot, versionRoot;
    const std::string problem = FindVersionFolders(ini, projectName, receivingRoot, versionRoot);
    const std::string wanted = RelativeVersionPath(path, receivingRoot);
    if (problem.empty() && (wanted.empty() || !IsSafePlanLine(wanted))) {
        std::cerr << "pairwell-cli: restore needs a path below the receiving folder, not \"" << path
                  << "\"\n";
        return ExitUsage;
    }
    const std::time_t start = std::time(nullptr);
    const TDateTime beginTime = Now();
    const auto begin = std::chrono::steady_clock::now();
    runLog.OpenDayLog();
    TLogBuffer log;
    log.WriteLogElement("ProcessType", ProcessTypeRestore);

    TRestoreOutcome outcome;
    if (!problem.empty()) {
        outcome.FError = ErrorInvalidTarget;
        outcome.FDetail = problem;
        outcome.FMessage = problem;
    } else {
        const std::vector<TVersionFile> versions = ListVersions(versionRoot, &outcome.FListErrors);
        const std::vector<TVersionFile> chosen = ChooseVersions(versions, wanted, at);
        if (chosen.empty()) {
            outcome.FError = ErrorNoVersion + ": " + wanted;
            if (at) {
                outcome.FError += " (" + FormatVersionTime(*at) + " 或之前)";
            }
            outcome.FDetail = versionRoot;
            outcome.FMessage = "no version of " + wanted +
                               (at ? " at or before " + FormatVersionTime(*at) : std::string()) + " in " +
                               versionRoot;
        }
        // Written where the log and the messages can name it from anywhere.
        const std::string destination =
            to ? WithTrailingDelimiter(std::filesystem::absolute(*to).lexically_normal().string())
               : receivingRoot;
        // A receiving folder on another machine is locked while the restore writes there, as a sync's is.
        TLockRefusal refusal;
        std::unique_ptr<TRemoteLock> lock;
        if (!chosen.empty()) {
            lock = TakeRemoteLock(destination, false, breakLock, refusal);
        }
        if (!refusal.FError.empty()) {
            outcome.FError = refusal.FError;
            outcome.FDetail = refusal.FDetail;
            outcome.FMessage = refusal.FError + ": " + refusal.FDetail;
        } else {
            TVersionStore store(versionRoot, beginTime);
            outcome.FResult = RestoreVersions(versionRoot, chosen, destination, store, log, StopSignalTest(),
                                              [&](const TRestoredFile& file) {
                                                  outcome.FRestored.push_back(file);
                                                  if (!json) {
                                                      std::cout << FormatVersionTime(file.FVersionStart)
                                                                << '\t' << file.FPath << '\n';
                                                  }
                                              });
            outcome.FVersionCount = store.Count();
        }
    }

    TRunItemEnd end;
    end.FProject = projectName;
    end.FCompleted = outcome.FError.empty() && !outcome.FResult.FStopped;
    end.FError = outcome.FError;
    end.FVersionCount = outcome.FVersionCount;
    end.FBegin = beginTime;
    end.FEnd = Now();
    end.FSpentMilliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin)
            .count();
    WriteRunItemEnd(log, end);
    runLog.CloseLogItem(log);

    std::cout.flush();
    for (const auto* failures : {&outcome.FListErrors, &outcome.FResult.FNewResult.FFailures,
                                 &outcome.FResult.FUpdateResult.FFailures}) {
        for (const TItemFailure& failure : *failures) {
            std::cerr << failure.FPath << ": " << failure.FReason << '\n';
        }
    }
    const int status = StatusOf(outcome);
    if (status == ExitNotCompleted) {
        std::cerr << "pairwell-cli: "
                  << (outcome.FMessage.empty() ? NotCompletedReason(outcome) : outcome.FMessage) << '\n';
    }
    if (json) {
        std::cout << RestoreJson(ReportOf(projectName, outcome, start, status), outcome.FRestored,
                                 runLog.DayLogFileName())
                  << std::endl;
    }
    return status;
}
