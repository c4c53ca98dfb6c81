#pragma once

#include "config/StringList.h"
#include "engine/project/Plan.h"
#include "engine/project/Progress.h"
#include "engine/project/ProjectRecord.h"
#include "engine/project/StopTest.h"
#include "runlog/RunLog.h"

#include <memory>
#include <string>
#include <vector>

class TVersionStore;
class TDeferredRelease;
struct TMovedLines;
class TVolume;

enum class TApplyPhase { New, Update, Delete };

// What an apply does with the plan; the roots end with the path delimiter.
struct TApplyOptions {
    std::string FSourceRoot;
    std::string FTargetRoot;
    // The target root, or the deploy folder in deploy mode.
    std::string FWriteRoot;
    bool FUpdateReadOnly = true;
    bool FDeployMode = false;
    // With versioning on, what the run overwrites or deletes is kept here first; null: off.
    std::shared_ptr<TVersionStore> FVersions;
    // Links = link: a source link is written as a link with the same text, and
    // a link in the target where the source has a file or a folder (or on the
    // way to one) is replaced, never followed.
    TLinkMode FLinks = TLinkMode::File;
    // Surplus target entries are deleted ("FileDelete" outside deploy mode).
    // With links kept as links, a folder with contents where the source has a
    // link is then surplus as a whole: it is emptied as the delete phase would
    // empty it, and the link takes its place.
    bool FDeleteSurplus = false;
    // Each copy is read back from the disk and compared before it is renamed into place.
    bool FVerifyCopy = false;
    // How many copies the new and update phases run at once (1: one after the other).
    int FParallelCopies = 1;
    // Where replaced and deleted files are let go of; null: at once.
    TDeferredRelease* FRelease = nullptr;
    // The new and delete lines that moves have done already: the phases count
    // them as done without touching them; null: none.
    const TMovedLines* FMoved = nullptr;
    // The volumes of the source, target and write roots; null: opened on the roots.
    std::shared_ptr<TVolume> FSourceVolume;
    std::shared_ptr<TVolume> FTargetVolume;
    std::shared_ptr<TVolume> FWriteVolume;
};

// The options with every volume opened on its root (the same volume where the
// write root is the target root).
TApplyOptions WithVolumes(const TApplyOptions& options);

struct TPhaseResult {
    int FDone = 0;
    int FFailed = 0;
    // The lines whose item failed, in order: what a second run should retry.
    TStringList FFailedLines;
    // Each failed item's full path and reason, in the same order.
    std::vector<TItemFailure> FFailures;
    // The stop test ended the phase before its last line.
    bool FStopped = false;
    // Set when a folder could no longer be reached: the phase ended there as at a stop.
    TLostFolder FLost;
};

// Runs one phase over its lines in order: each success logs the phase's
// element ("New", "Update", "Delete") with the full path, each failure its
// failure element and keeps the line; the two count elements follow, also
// after a stop. A failed item never ends the phase. Lines that are absolute
// or climb out with ".." fail without touching anything. Lines that moves did
// (options.FMoved) are logged as done first, in their order, and left alone.
TPhaseResult ApplyPhase(TApplyPhase phase, const TStringList& lines, const TApplyOptions& options,
                        TLogBuffer& log, TProgressSink& progress, const TStopTest& stopRequested = {});
