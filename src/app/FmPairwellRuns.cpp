// The interactive check and synchronisation: thin callers of the engine that
// take their settings from the settings page and their plan from the memos.

#include "BackupSafety.h"
#include "ByteText.h"
#include "FmPairwell.h"
#include "FmProcess.h"
#include "Messages.h"
#include "QueuedProgress.h"
#include "RemoteReach.h"
#include "ResultsPage.h"
#include "SettingsPage.h"
#include "WorkerRun.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "config/PathText.h"
#include "engine/apply/Apply.h"
#include "engine/apply/ApplyMoves.h"
#include "engine/apply/DeployFolder.h"
#include "engine/apply/ParallelCopies.h"
#include "engine/apply/RunRelease.h"
#include "engine/check/Check.h"
#include "engine/check/CheckSettings.h"
#include "engine/check/MoveDetection.h"
#include "engine/project/Plan.h"
#include "engine/run/BackgroundRun.h"
#include "engine/run/ProjectSsh.h"
#include "engine/run/RemoteLock.h"
#include "engine/versions/Versions.h"
#include "engine/volume/SftpVolume.h"
#include "sftp/SftpAddress.h"
#include "ui_FmPairwell.h"
#include "ui_SettingsPage.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <chrono>
#include <exception>
#include <iostream>
#include <optional>

namespace {

// Restores the cursor however the run ends.
struct TCursorGuard {
    explicit TCursorGuard(Qt::CursorShape shape) { QApplication::setOverrideCursor(shape); }
    ~TCursorGuard() { QApplication::restoreOverrideCursor(); }
    TCursorGuard(const TCursorGuard&) = delete;
    TCursorGuard& operator=(const TCursorGuard&) = delete;
};

// What the check could not read is never taken as empty: the user is told
// which paths were left out of the plan, and why.
QString CheckErrorsText(const std::vector<TItemFailure>& errors) {
    constexpr std::size_t Shown = 20;
    QStringList lines{QStringLiteral("以下路径无法检查，未列入计划:")};
    for (std::size_t i = 0; i < errors.size() && i < Shown; ++i) {
        lines.append(BytesToText(errors[i].FPath) + QStringLiteral(": ") + BytesToText(errors[i].FReason));
    }
    if (errors.size() > Shown) {
        lines.append(QStringLiteral("……共 %1 项").arg(errors.size()));
    }
    return lines.join(QLatin1Char('\n'));
}

// Moves whose rename failed: their files were copied and deleted instead, so
// they are no failures, but the person learns why.
QString MoveFallbacksText(const std::vector<TItemFailure>& fallbacks) {
    constexpr std::size_t Shown = 20;
    QStringList lines{QStringLiteral("以下移动未能完成，已改为复制和删除:")};
    for (std::size_t i = 0; i < fallbacks.size() && i < Shown; ++i) {
        lines.append(BytesToText(fallbacks[i].FPath) + QStringLiteral(": ") +
                     BytesToText(fallbacks[i].FReason));
    }
    if (fallbacks.size() > Shown) {
        lines.append(QStringLiteral("……共 %1 项").arg(fallbacks.size()));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

std::string TFmPairwell::ResolveFolder(const QString& typed) const {
    // A relative folder is taken from the configuration file's folder, as the
    // command-line tool and the jobs take it.
    return ResolveBeside(FIniFile->FileName(), TextToBytes(typed));
}

bool TFmPairwell::ReachRemoteFolder(const std::string& root, const std::string& invalidText) {
    if (!IsSftpAddress(root)) {
        return true;
    }
    const std::string sshCommand = FSettingsPage->ShownRecord().FSshCommand;
    RememberSshCommand(root, sshCommand);
    const TRemoteReach reach = ReachRemote(this, *OpenVolume(root), sshCommand);
    if (!reach.FReached && !reach.FRefused) {
        ShowNotice(this, BytesToText(invalidText + ": " + root + ": " + reach.FReason));
    }
    return reach.FReached;
}

void TFmPairwell::EndRun(std::exception_ptr failure) {
    ShowProgressWindow(false);
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            if (FTerminating) {
                std::cerr << "pairwell: " << error.what() << '\n';
            } else {
                ShowErrorBox(this, error);
            }
        }
    }
    if (FCloseAfterRun) {
        close();
    }
}

void TFmPairwell::ClearStopRequest() {
    ui->StopProcess->setChecked(false);
    FStopFlag = false;
}

void TFmPairwell::StopProcessExecute() {
    ui->StopProcess->setChecked(true);
    FStopFlag = true;
    FFmProcess->ShowStoppingHeading();
    repaint();
}

bool TFmPairwell::StopRequested() const {
    return FStopFlag.load();
}

void TFmPairwell::ShowProgressWindow(bool visible) {
    if (FProgressShown == visible) {
        return;
    }
    FProgressShown = visible;
    if (visible) {
        // The window comes back at the end only if it was there at the start
        // (and was not sent to the tray meanwhile, Pairwell1Click).
        FShowAfterRun = isVisible();
        const QRect area = isVisible() ? frameGeometry() : screen()->availableGeometry();
        hide();
        FFmProcess->ShowRunningHeading();
        FFmProcess->ShowProgressBar(0, 0);
        FFmProcess->move(area.center() - FFmProcess->rect().center());
        FFmProcess->show();
        // Esc must reach it wherever the desktop would put the focus.
        FFmProcess->raise();
        FFmProcess->activateWindow();
        FFmProcess->setFocus(Qt::ActiveWindowFocusReason);
    } else {
        if (FShowAfterRun) {
            show();
        }
        FFmProcess->close();
    }
}

void TFmPairwell::FileCheckExecute() {
    if (FRunning) {
        return;
    }
    Ui::SettingsPage& page = FSettingsPage->Controls();
    RememberProjectSshCommand(FSettingsPage->ShownRecord());
    // A refused check leaves no roots behind, so a synchronisation asks for a
    // check instead of joining the memos to folders the page no longer shows.
    FSourceRoot.clear();
    FTargetRoot.clear();
    const std::string sourceRoot = WithTrailingDelimiter(ResolveFolder(page.DirectoryEdit1->text()));
    if (IsBlank(TextToBytes(page.DirectoryEdit1->text()))) {
        ShowNotice(this, MsgInvalidSource);
        page.DirectoryEdit1->setFocus();
        return;
    }
    if (!ReachRemoteFolder(sourceRoot, ErrorInvalidSource)) {
        page.DirectoryEdit1->setFocus();
        return;
    }
    if (!(IsSftpAddress(sourceRoot) ? OpenVolume(sourceRoot)->Facts("", true).FIsFolder
                                    : FolderExists(sourceRoot))) {
        ShowNotice(this, MsgInvalidSource);
        page.DirectoryEdit1->setFocus();
        return;
    }
    if (page.DirectoryEdit2->text().trimmed().isEmpty()) {
        ShowNotice(this, MsgNoTarget);
        page.DirectoryEdit2->setFocus();
        return;
    }
    if (!ReachRemoteFolder(WithTrailingDelimiter(ResolveFolder(page.DirectoryEdit2->text())),
                           ErrorInvalidTarget)) {
        page.DirectoryEdit2->setFocus();
        return;
    }
    if (const QString refusal = SourceMarkerRefusal(FSettingsPage->ShownRecord(), sourceRoot);
        !refusal.isEmpty()) {
        ShowNotice(this, refusal);
        page.DirectoryEdit1->setFocus();
        return;
    }
    FSourceRoot = sourceRoot;
    FTargetRoot = WithTrailingDelimiter(ResolveFolder(page.DirectoryEdit2->text()));
    FProjectName = TextToBytes(FSettingsPage->ShownProjectName());
    FBeginTime = Now();
    TCursorGuard cursor(Qt::WaitCursor);
    ClearStopRequest();
    FSettingsPage->NormaliseThreshold();
    const TProjectRecord record = FSettingsPage->ShownRecord();
    const std::string deployRoot = IsBlank(record.FDeploy)
                                       ? std::string()
                                       : WithTrailingDelimiter(ResolveFolder(page.DirectoryEdit3->text()));
    if (record.FUpdateToOther && !deployRoot.empty() && !ReachRemoteFolder(deployRoot, ErrorInvalidDeploy)) {
        return;
    }
    TCheckSettings settings;
    try {
        settings = CheckSettingsFor(record, FSourceRoot, FTargetRoot, deployRoot);
    } catch (const std::exception& error) {
        ShowErrorBox(this, error); // a setting that cannot be understood
        return;
    }
    if (const std::string problem = SetVersionFolder(settings, record, FIniFile->FileName());
        !problem.empty()) {
        ShowNotice(this, BytesToText(ErrorInvalidVersionFolder + ": " + problem));
        return;
    }

    FRunning = true;
    ShowProgressWindow(true);
    FResultsPage->ClearPlan();
    TPlan plan;
    bool completed = false;
    std::size_t plannedMoves = 0;
    std::exception_ptr failure;
    {
        TQueuedProgress progress(*FFmProcess);
        try {
            RunOnWorkerThread([&] {
                const TStopTest stop = [this] { return FStopFlag.load(); };
                completed = RunCheck(settings, plan, progress, stop);
                // The results page shows the moves the plan holds; the synchronisation finds them
                // again in the memos as they then stand.
                if (completed && DetectsMoves(record)) {
                    plannedMoves =
                        FindProjectMoves(record, *OpenVolume(FSourceRoot), *OpenVolume(FTargetRoot),
                                         plan.FNewList, plan.FDeleteList, stop)
                            .FMoves.size();
                }
            });
        } catch (...) {
            failure = std::current_exception();
        }
        progress.Flush();
    }
    // The memos get what was found, also when the check stopped or failed.
    FResultsPage->SetMemoLines(TApplyPhase::New, plan.FNewList);
    FResultsPage->SetMemoLines(TApplyPhase::Update, plan.FUpdateList);
    FResultsPage->SetMemoLines(TApplyPhase::Delete, plan.FDeleteList);
    FResultsPage->ShowMoveCount(static_cast<int>(plannedMoves));
    FCheckedSourceEntries = plan.FSourceEntries;
    FCheckedTargetEntries = plan.FTargetEntries;
    FRunning = false;
    if (failure || !completed || FCloseAfterRun) {
        EndRun(failure);
        if (plan.FLost.Lost() && !FCloseAfterRun) {
            ShowNotice(this, BytesToText(ErrorConnectionLost + ": " + plan.FLost.FReason));
        }
        return;
    }
    ShowProgressWindow(false);
    ResultExecute();
    raise();
    activateWindow();
    if (!plan.FErrors.empty()) {
        ShowNotice(this, CheckErrorsText(plan.FErrors));
    }
    ShowNotice(this, MsgCheckDone);
}

void TFmPairwell::FileUpdateExecute() {
    if (FRunning) {
        return;
    }
    // Lines are relative to the roots of a check; without one they would be
    // taken from wherever the program happens to run.
    if (FSourceRoot.empty() || FTargetRoot.empty()) {
        ShowNotice(this, MsgNoCheckYet);
        return;
    }
    Ui::SettingsPage& page = FSettingsPage->Controls();
    const bool deployMode = page.cbUpdateToOther->isChecked();
    const bool deleteSurplus = page.cbFileDelete->isChecked();
    // A deploy folder that cannot take the run is refused before anything is asked.
    const QString typed = page.DirectoryEdit3->text();
    const std::string deploy = ResolveFolder(typed);
    if (deployMode && !IsBlank(TextToBytes(typed)) &&
        !ReachRemoteFolder(WithTrailingDelimiter(deploy), ErrorInvalidDeploy)) {
        return;
    }
    if (deployMode && !DeployFolderAcceptable(TextToBytes(typed), deploy)) {
        ShowNotice(this, MsgInvalidDeploy);
        return;
    }
    QString question = deleteSurplus && !deployMode ? AskSyncWithDelete : deployMode ? AskDeploy : AskSync;
    // The moves are found in the memos as they stand: their delete lines are no deletions for the guard.
    TProjectRecord record = FSettingsPage->ShownRecord();
    record.FFileDelete = deleteSurplus;
    record.FUpdateToOther = deployMode;
    TMovePlan moves;
    if (DetectsMoves(record)) {
        const TStringList newLines = FResultsPage->MemoLines(TApplyPhase::New);
        const TStringList deleteLines = FResultsPage->MemoLines(TApplyPhase::Delete);
        FRunning = true;
        try {
            RunOnWorkerThread([&] {
                moves = FindProjectMoves(record, *OpenVolume(FSourceRoot), *OpenVolume(FTargetRoot), newLines,
                                         deleteLines);
            });
        } catch (const std::exception& error) {
            FRunning = false;
            ShowErrorBox(this, error);
            return;
        }
        FRunning = false;
    }
    const std::size_t deleteLines = FResultsPage->MemoLines(TApplyPhase::Delete).size();
    // A plan that trips the deletion guard gets the stronger question.
    if (const QString guard = DeleteGuardQuestion(record, FCheckedSourceEntries, FCheckedTargetEntries,
                                                  deleteLines - std::min(deleteLines, moves.DeleteLines()));
        !guard.isEmpty()) {
        question = guard;
    }
    if (!AskQuestion(this, question)) {
        return;
    }
    std::string writeRoot = FTargetRoot;
    if (deployMode) {
        if (!PrepareDeployFolder(deploy)) {
            ShowNotice(this, MsgInvalidDeploy);
            return;
        }
        if (!typed.endsWith(QLatin1Char('/'))) {
            page.DirectoryEdit3->setText(typed + QLatin1Char('/'));
        }
        FDeployRoot = WithTrailingDelimiter(deploy);
        writeRoot = FDeployRoot;
    }
    if (const std::string problem = VersionFolderProblemFor(FSettingsPage->ShownRecord(),
                                                            FIniFile->FileName(), FSourceRoot, writeRoot);
        !problem.empty()) {
        ShowNotice(this, BytesToText(ErrorInvalidVersionFolder + ": " + problem));
        return;
    }
    RunSynchronisation(writeRoot, deployMode, moves);
}

void TFmPairwell::RunSynchronisation(const std::string& writeRoot, bool deployMode, const TMovePlan& moves) {
    Ui::SettingsPage& page = FSettingsPage->Controls();
    int parallelCopies = ParallelCopiesAuto;
    try {
        parallelCopies = ResolveParallelCopies(ReadParallelCopies(*FIniFile), writeRoot);
    } catch (const EConvertError& error) {
        ShowErrorBox(this, error); // nothing has started yet
        return;
    }
    // A receiving folder on another machine is locked for the run, as the jobs lock it.
    TLockRefusal refusal;
    std::unique_ptr<TRemoteLock> lock;
    try {
        RunOnWorkerThread([&] { lock = TakeRemoteLock(writeRoot, deployMode, false, refusal); });
    } catch (const std::exception& error) {
        ShowErrorBox(this, error);
        return;
    }
    if (!refusal.FError.empty()) {
        ShowNotice(this, BytesToText(refusal.FError));
        return;
    }
    FBeginTime = Now();
    const auto started = std::chrono::steady_clock::now();
    TCursorGuard cursor(Qt::BusyCursor);
    ClearStopRequest();
    FRunning = true;
    ShowProgressWindow(true);
    try {
        FRunLog->OpenDayLog();
    } catch (const std::exception& error) {
        FRunning = false;
        ShowProgressWindow(false);
        ShowErrorBox(this, error);
        return;
    }

    // The item holds only this run's elements.
    TLogBuffer& log = *FLogBuffer;
    log.Clear();
    log.WriteLogElement("Project", FProjectName);
    log.WriteLogElement("ProcessType", deployMode ? "发布" : "同步");

    TApplyOptions options;
    options.FSourceRoot = FSourceRoot;
    options.FTargetRoot = FTargetRoot;
    options.FWriteRoot = writeRoot;
    options.FUpdateReadOnly = page.cbUpdateReadOnly->isChecked();
    options.FDeployMode = deployMode;
    TProjectRecord record = FSettingsPage->ShownRecord();
    record.FFileDelete = page.cbFileDelete->isChecked();
    record.FUpdateToOther = deployMode;
    options.FVersions = VersionStoreFor(record, FIniFile->FileName(), writeRoot, FBeginTime);
    options.FLinks = record.FLinks;
    options.FVerifyCopy = record.FVerifyCopy;
    options.FParallelCopies = parallelCopies;
    options.FDeleteSurplus = page.cbFileDelete->isChecked() && !deployMode;
    std::vector<TApplyPhase> phases = {TApplyPhase::New, TApplyPhase::Update};
    if (options.FDeleteSurplus) {
        phases.push_back(TApplyPhase::Delete);
    }

    // The stop test records "中止" where it first sees the stop: before the
    // interrupted phase's counts, also when it was a block copy that saw it.
    bool stopLogged = false;
    const auto stopRequested = [this, &log, &stopLogged] {
        if (!FStopFlag.load()) {
            return false;
        }
        if (!stopLogged) {
            stopLogged = true;
            log.WriteLogElement("ProcessStatus", "中止");
        }
        return true;
    };
    bool stopped = false;
    // A folder lost mid-run ends it: "中止", with ssh's reason.
    std::string lostReason;
    std::exception_ptr failure;
    TMovedLines moved;
    std::vector<TItemFailure> moveFallbacks;
    // Replaced and deleted files are let go of on threads of their own, as
    // in every other run; a stopped or failed run lets go of them below.
    std::optional<TRunRelease> release(std::in_place, options);
    try {
        TQueuedProgress progress(*FFmProcess);
        // Moves come before any copy, so that a moved folder is there when new files go into it.
        if (DetectsMoves(record)) {
            RunOnWorkerThread([&] {
                moved = ApplyMoves(moves, *OpenVolume(FTargetRoot), progress, stopRequested, &moveFallbacks);
            });
            progress.Flush();
            WriteMoveLog(log, moved, moveFallbacks);
            FResultsPage->ShowMoveCount(moved.FMoves);
            options.FMoved = &moved;
            stopped = stopRequested();
        }
        for (const TApplyPhase phase : phases) {
            if (stopped) {
                break;
            }
            const TStringList lines = FResultsPage->MemoLines(phase);
            FResultsPage->Memo(phase)->clear();
            TPhaseResult result;
            try {
                RunOnWorkerThread(
                    [&] { result = ApplyPhase(phase, lines, options, log, progress, stopRequested); });
            } catch (...) {
                FResultsPage->ShowPhaseCounts(phase, result.FDone, result.FFailed);
                throw;
            }
            progress.Flush();
            FResultsPage->SetMemoLines(phase, result.FFailedLines);
            FResultsPage->ShowPhaseCounts(phase, result.FDone, result.FFailed);
            if (result.FLost.Lost() && !stopLogged) {
                lostReason = ErrorConnectionLost + ": " + result.FLost.FReason;
                log.WriteLogElement("ProcessStatus", "中止");
                log.WriteLogElement("Error", lostReason);
            }
            // A stop that ended the copy of the phase's last item left no
            // item to stop at: the stop test is asked after every phase.
            if (result.FStopped || stopRequested()) {
                stopped = true;
                break;
            }
        }
        // Done means on the device: the receiving file system is flushed first.
        std::string flushFailure;
        if (!stopped) {
            RunOnWorkerThread([&] { release->ReleaseAndFlush(writeRoot, flushFailure); });
        }
        if (!stopped && !flushFailure.empty()) {
            log.WriteLogElement("ProcessStatus", "中止");
            log.WriteLogElement("Error", TextToBytes(FlushFailureNotice(flushFailure)));
            ShowProgressWindow(false);
            if (!FCloseAfterRun) {
                ShowNotice(this, FlushFailureNotice(flushFailure));
            }
        } else if (!stopped) {
            ShowProgressWindow(false);
            raise();
            activateWindow();
            if (!FCloseAfterRun) {
                if (!moveFallbacks.empty()) {
                    ShowNotice(this, MoveFallbacksText(moveFallbacks));
                }
                ShowNotice(this, MsgSyncDone);
            }
            log.WriteLogElement("ProcessStatus", "完成");
        }
        if (!lostReason.empty()) {
            ShowProgressWindow(false);
            if (!FCloseAfterRun) {
                ShowNotice(this, BytesToText(lostReason));
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    RunOnWorkerThread([&] { release.reset(); });

    FRunning = false;
    ResultExecute();
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (options.FVersions) {
        try {
            RunOnWorkerThread([&] { options.FVersions->Prune(); });
        } catch (...) {
            // what cannot be pruned now is pruned after the next run
        }
        log.WriteLogElement("VersionCount", std::to_string(options.FVersions->Count()));
    }
    try {
        RunOnWorkerThread([&] { lock.reset(); });
    } catch (...) {
        // a lock that cannot be removed is taken over by this machine's next run
    }
    log.WriteLogElement("BeginTime", FormatTimeOfDay(FBeginTime));
    log.WriteLogElement("EndTime", FormatTimeOfDay(Now()));
    log.WriteLogElement("SpendTime", FormatSpendTime(spent.count()));
    try {
        FRunLog->CloseLogItem(log);
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
        }
    }
    EndRun(failure);
}
