#pragma once

#include "engine/project/Moves.h"
#include "engine/project/Plan.h"
#include "engine/project/Progress.h"
#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"

#include <vector>

// Makes the moves of a plan in the target, before any copy: each is a rename
// that never replaces anything, with the missing folders on the way to its new
// place made first. A move whose rename fails (a name taken since the check,
// another file system below the target) is left to the phases, which copy and
// delete its lines as before; its reason goes to fallbacks. After a stop no
// further move is made. Returns the lines the moves did.
TMovedLines ApplyMoves(const TMovePlan& plan, TVolume& target, TProgressSink& progress,
                       const TStopTest& stopRequested = {}, std::vector<TItemFailure>* fallbacks = nullptr);

inline const std::string MoveItemPrefix = "移动: ";
