#include "BackgroundRun.h"

#include "ProjectSsh.h"

#include "config/FileFacts.h"
#include "config/PathText.h"
#include "engine/apply/ApplyMoves.h"
#include "engine/apply/ParallelCopies.h"
#include "engine/apply/RunRelease.h"
#include "engine/check/Check.h"
#include "engine/check/CheckSettings.h"
#include "engine/check/DeleteGuard.h"
#include "engine/check/MoveDetection.h"
#include "engine/index/FolderIndex.h"
#include "engine/versions/Versions.h"
#include "engine/volume/Volume.h"

#include <cerrno>

namespace {

const std::string StatusCompleted = "完成";
const std::string StatusStopped = "中止";

// Why root cannot serve as a source: "does not exist", "permission denied",
// "not a folder" or the system's message; empty when it can.
std::string RootProblem(TVolume& volume) {
    const TEntryFacts root = volume.Facts("", true);
    if (root.FExists) {
        return root.FIsFolder ? std::string() : "not a folder";
    }
    switch (root.FError) {
    case 0:
        return "does not exist";
    case EACCES:
        return "permission denied";
    default:
        return ErrorText(root.FError);
    }
}

bool Reject(TBackgroundRun& run, const std::string& error, const std::string& detail) {
    run.FErrorText = error;
    run.FErrorDetail = detail;
    return false;
}

// Rejects the run with error when the folder at root cannot be used: for a
// folder on another machine first a server that cannot be reached, whose
// reason (ssh's own words) goes into the error text and so into the log.
// shown: the root as messages name it.
bool RejectsRoot(TBackgroundRun& run, const std::string& error, const std::string& root,
                 const std::string& shown, bool mustExist) {
    const std::shared_ptr<TVolume> volume = OpenVolume(root);
    if (const std::string problem = volume->ReachProblem(); !problem.empty()) {
        Reject(run, error + ": " + problem, shown);
        return true;
    }
    if (const std::string problem = mustExist ? RootProblem(*volume) : std::string(); !problem.empty()) {
        Reject(run, error, shown + ": " + problem);
        return true;
    }
    return false;
}

// Rejects the run when a folder was lost mid-run; true when it was.
bool RejectsLost(TBackgroundRun& run, const TLostFolder& lost) {
    if (!lost.Lost()) {
        return false;
    }
    Reject(run, ErrorConnectionLost + ": " + lost.FReason, lost.FRoot);
    return true;
}

} // namespace

bool CheckProject(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress,
                  const TStopTest& stopRequested) {
    const TIniFile::TValues section = ini.ReadSectionValues(ProjectSection(run.FProjectName));
    if (section.empty()) {
        return Reject(run, ErrorInvalidSource,
                      "no project \"" + run.FProjectName + "\" in " + ini.FileName());
    }
    run.FProject = ReadProject(section);
    const TProjectRecord& project = run.FProject;
    RememberProjectSshCommand(project);

    // A blank source would name the root of the file system once the delimiter is added.
    if (IsBlank(project.FSource)) {
        return Reject(run, ErrorInvalidSource, "project \"" + run.FProjectName + "\" has no source folder");
    }
    const std::string source = ResolveBeside(ini.FileName(), project.FSource);
    run.FSourceRoot = WithTrailingDelimiter(source);
    if (RejectsRoot(run, ErrorInvalidSource, run.FSourceRoot, source, true)) {
        return false;
    }
    // A source that cannot be listed is rejected: taken for empty, it would
    // make every target file surplus.
    if (const int error = FolderListingError(run.FSourceRoot); error != 0) {
        return Reject(run, ErrorInvalidSource, run.FSourceRoot + ": " + ErrorText(error));
    }
    if (const std::string problem = SourceMarkerProblem(project, run.FSourceRoot); !problem.empty()) {
        return Reject(run, ErrorInvalidSource, problem);
    }
    if (IsBlank(project.FTarget)) {
        return Reject(run, ErrorInvalidTarget, "project \"" + run.FProjectName + "\" has no target folder");
    }
    run.FTargetRoot = WithTrailingDelimiter(ResolveBeside(ini.FileName(), project.FTarget));
    if (RejectsRoot(run, ErrorInvalidTarget, run.FTargetRoot, run.FTargetRoot, false)) {
        return false;
    }

    std::string deployRoot;
    if (project.FUpdateToOther && !IsBlank(project.FDeploy)) {
        deployRoot = WithTrailingDelimiter(ResolveBeside(ini.FileName(), project.FDeploy));
        if (RejectsRoot(run, ErrorInvalidDeploy, deployRoot, deployRoot, false)) {
            return false;
        }
    }
    TCheckSettings settings = CheckSettingsFor(project, run.FSourceRoot, run.FTargetRoot, deployRoot);
    if (const std::string problem = SetVersionFolder(settings, project, ini.FileName()); !problem.empty()) {
        return Reject(run, ErrorInvalidVersionFolder, problem);
    }
    // Taken before the check, so that no other run changes the folder between the plan and its apply.
    if (const std::string& writeRoot = project.FUpdateToOther ? deployRoot : run.FTargetRoot;
        run.FTakesLock && !writeRoot.empty()) {
        TLockRefusal refusal;
        run.FLock = TakeRemoteLock(writeRoot, project.FUpdateToOther, run.FBreakLock, refusal);
        if (!refusal.FError.empty()) {
            return Reject(run, refusal.FError, refusal.FDetail);
        }
    }
    run.FLogBuffer.WriteLogElement("ProcessType",
                                   project.FUpdateToOther ? ProcessTypeDeploy : ProcessTypeSync);

    run.FPlan.Clear();
    // A stop that emptied the index leaves the check nothing to poll at: the
    // stop test is asked once more.
    const bool checked = RunCheck(settings, run.FPlan, progress, stopRequested);
    return !RejectsLost(run, run.FPlan.FLost) && checked && !StopRequestedBy(stopRequested);
}

bool ApplyPlan(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress,
               const TStopTest& stopRequested) {
    const TProjectRecord& project = run.FProject;
    TApplyOptions options;
    options.FSourceRoot = run.FSourceRoot;
    options.FTargetRoot = run.FTargetRoot;
    options.FWriteRoot = run.FTargetRoot;
    options.FUpdateReadOnly = project.FUpdateReadOnly;
    options.FDeployMode = project.FUpdateToOther;
    options.FLinks = project.FLinks;
    options.FVerifyCopy = project.FVerifyCopy;
    if (options.FDeployMode) {
        if (IsBlank(project.FDeploy)) {
            return Reject(run, ErrorInvalidDeploy,
                          "project \"" + run.FProjectName + "\" publishes but has no deploy folder");
        }
        options.FWriteRoot = WithTrailingDelimiter(ResolveBeside(ini.FileName(), project.FDeploy));
    }
    // One volume per folder for the whole run: the phases share its open folders and sweeps.
    options = WithVolumes(options);
    run.FMoves = FindProjectMoves(project, *options.FSourceVolume, *options.FTargetVolume, run.FPlan.FNewList,
                                  run.FPlan.FDeleteList, stopRequested);
    if (DeleteGuardRefuses(run)) {
        return false;
    }
    options.FDeleteSurplus = project.FFileDelete && !options.FDeployMode;
    options.FVersions = VersionStoreFor(project, ini.FileName(), options.FWriteRoot, run.FBeginTime);
    run.FVersions = options.FVersions;

    options.FParallelCopies = ResolveParallelCopies(
        run.FParallelCopies != 0 ? run.FParallelCopies : ReadParallelCopies(ini), options.FWriteRoot);

    // A stop during the copy of a phase's last item ends that phase without
    // marking it stopped: the stop test itself is asked once more.
    TRunRelease release(options);
    // A folder lost mid-phase ends the run as a stop does, with the reason.
    const auto stopped = [&](const TPhaseResult& result) {
        return RejectsLost(run, result.FLost) || result.FStopped || StopRequestedBy(stopRequested);
    };
    run.FLogBuffer.WriteLogElement("SourcePath", options.FSourceRoot);
    run.FLogBuffer.WriteLogElement("TargetPath", options.FWriteRoot);
    TMovedLines moved;
    if (DetectsMoves(project)) {
        moved = ApplyMoves(run.FMoves, *options.FTargetVolume, progress, stopRequested, &run.FMoveFallbacks);
        run.FMoveCount = moved.FMoves;
        WriteMoveLog(run.FLogBuffer, moved, run.FMoveFallbacks);
        options.FMoved = &moved;
        if (StopRequestedBy(stopRequested)) {
            return false;
        }
    }
    run.FNewResult =
        ApplyPhase(TApplyPhase::New, run.FPlan.FNewList, options, run.FLogBuffer, progress, stopRequested);
    if (stopped(run.FNewResult)) {
        return false;
    }
    run.FUpdateResult = ApplyPhase(TApplyPhase::Update, run.FPlan.FUpdateList, options, run.FLogBuffer,
                                   progress, stopRequested);
    if (stopped(run.FUpdateResult)) {
        return false;
    }
    if (options.FDeleteSurplus) {
        run.FDeleteResult = ApplyPhase(TApplyPhase::Delete, run.FPlan.FDeleteList, options, run.FLogBuffer,
                                       progress, stopRequested);
        if (stopped(run.FDeleteResult)) {
            return false;
        }
    } else {
        run.FDeleteResult = TPhaseResult{};
        run.FLogBuffer.WriteLogElement("DeleteCount", "0");
        run.FLogBuffer.WriteLogElement("DeleteFailCount", "0");
    }
    if (std::string reason; !release.ReleaseAndFlush(options.FWriteRoot, reason)) {
        return Reject(run, ErrorFlushFailed + ": " + reason, options.FWriteRoot);
    }
    return true;
}

bool DeleteGuardRefuses(TBackgroundRun& run) {
    if (run.FForceDelete) {
        return false;
    }
    const TDeleteGuardVerdict verdict = WeighDeletions(run.FProject, run.FPlan, run.FMoves.DeleteLines());
    if (!verdict.FTripped) {
        return false;
    }
    run.FDeleteGuardTripped = true;
    // Logged as a refused source is: no element of the check stays.
    run.FLogBuffer.Clear();
    run.FErrorText = DeleteGuardText(verdict);
    run.FErrorDetail =
        "source " + run.FSourceRoot +
        " (is it unmounted or emptied?); nothing was written, --force-delete lets the run through";
    return true;
}

std::string ErrorMessage(const TBackgroundRun& run) {
    if (run.FErrorDetail.empty()) {
        return run.FErrorText;
    }
    return run.FErrorText + ": " + run.FErrorDetail;
}
