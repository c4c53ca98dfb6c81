#pragma once

#include "engine/project/Moves.h"
#include "engine/project/Plan.h"
#include "engine/project/Progress.h"
#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"
#include "runlog/RunLog.h"

#include <vector>

// Makes the moves of a plan in the target, before any copy: each is a rename
// that never replaces anything, with the missing folders on the way to its new
// place made first. A move whose rename fails (a name taken since the check,
// another file system below the target) is left to the phases, which copy and
// delete its lines as before; it goes to fallbacks with its old full path and
// the reason (MoveFallbackReason). It is no failed item: its file still
// arrives. After a stop no further move is made. Returns the lines the moves did.
TMovedLines ApplyMoves(const TMovePlan& plan, TVolume& target, TProgressSink& progress,
                       const TStopTest& stopRequested = {}, std::vector<TItemFailure>* fallbacks = nullptr);

// Why a move to the full path to was left to copying: the system's reason within.
std::string MoveFallbackReason(const std::string& to, const std::string& reason);

// The log elements of the moves: "MoveCount" (the moves made) and a "MoveFail"
// with the old full path of each move that fell back to copying.
void WriteMoveLog(TLogBuffer& log, const TMovedLines& moved, const std::vector<TItemFailure>& fallbacks);

inline const std::string MoveItemPrefix = "移动: ";
