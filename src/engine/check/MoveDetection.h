#pragma once

#include "config/StringList.h"
#include "engine/project/Moves.h"
#include "engine/project/ProjectRecord.h"
#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"

// What decides whether two entries are one.
struct TMoveRules {
    // The two files' bytes must be equal too.
    bool FCompareContent = false;
    // Folder lines are part of the plan, so a renamed folder's own lines must be there too.
    bool FIncludeFolders = false;
};

// Finds the moves among the plan's new and delete lines. A new file and a
// deleted file are one when they have the same name, size (at least one
// byte) and modification time (to the millisecond, to the second where either
// volume keeps whole seconds), and no other new or deleted file shares these.
// A deleted folder is renamed as a whole when its tree and a new folder's
// tree hold the same relative names, sizes and times, every file of both is a
// line of the plan, the old folder is gone from the source and the new one is
// missing in the target. Such folders are found first from the names of the
// files alone and then listed, so that a renamed folder's files are not
// looked up one by one. Only lines of the plan are taken, so a line removed
// from it makes its file a copy again. Empty with a stop.
TMovePlan FindMoves(TVolume& source, TVolume& target, const TStringList& newLines,
                    const TStringList& deleteLines, const TMoveRules& rules,
                    const TStopTest& stopRequested = {});

// Whether a project's runs look for moves: only where they delete, and never
// in deploy mode, which writes elsewhere and deletes nothing.
bool DetectsMoves(const TProjectRecord& project);
// The moves of a project's plan with the project's rules; none where it does not detect them.
TMovePlan FindProjectMoves(const TProjectRecord& project, TVolume& source, TVolume& target,
                           const TStringList& newLines, const TStringList& deleteLines,
                           const TStopTest& stopRequested = {});
