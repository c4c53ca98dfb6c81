#pragma once

#include "engine/project/Plan.h"
#include "engine/project/ProjectRecord.h"

#include <cstddef>
#include <string>

// What the deletion guard made of a plan.
struct TDeleteGuardVerdict {
    bool FTripped = false;
    std::size_t FDeletions = 0;     // delete lines; a folder line counts one
    std::size_t FTargetEntries = 0; // lines of the target's index
    int FPercent = 0;               // deletions in percent of the target's lines, rounded down
};

// The guard's rule, for every caller. With deletion on (outside deploy mode,
// which deletes nothing) and the guard on, a plan trips it when the source
// index is empty while the target's is not, or when its deletions are at
// least DeleteGuardCount and more than DeleteGuardPercent percent of the
// target's index.
TDeleteGuardVerdict WeighDeletions(const TProjectRecord& project, std::size_t sourceEntries,
                                   std::size_t targetEntries, std::size_t deletions);
TDeleteGuardVerdict WeighDeletions(const TProjectRecord& project, const TPlan& plan);

// "删除保护: 计划删除 N 项, 占目标的 P%": the refusal as logged and printed.
std::string DeleteGuardText(const TDeleteGuardVerdict& verdict);
bool IsDeleteGuardText(const std::string& errorText);

// Why the source root fails the project's marker (the marker file is named
// but missing there); empty when no marker is set or it is present.
std::string SourceMarkerProblem(const TProjectRecord& project, const std::string& sourceRoot);
