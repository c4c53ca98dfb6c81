#pragma once

#include "config/StringList.h"

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

// A file or folder of the target that the plan deletes at one place and
// creates at another, where the target already holds the same thing: it is
// renamed there instead of copied again and deleted.
struct TMove {
    // Below the target root; a folder ends with the path delimiter.
    std::string FFrom;
    std::string FTo;
    // The plan lines the move stands for: new lines (below the source root)
    // and delete lines (below the target root).
    TStringList FNewLines;
    TStringList FDeleteLines;
};

// The moves of a plan: folder renames first, outer folders before inner
// ones, then single files in the order of the new list.
struct TMovePlan {
    std::vector<TMove> FMoves;
    // How many delete lines the moves stand for: deletions that are none.
    std::size_t DeleteLines() const {
        std::size_t count = 0;
        for (const TMove& move : FMoves) {
            count += move.FDeleteLines.size();
        }
        return count;
    }
};

// The lines that the moves made have done: the phases count them as done
// and leave them alone.
struct TMovedLines {
    std::unordered_set<std::string> FNew;
    std::unordered_set<std::string> FDelete;
    int FMoves = 0;
    void Add(const TMove& move) {
        FNew.insert(move.FNewLines.begin(), move.FNewLines.end());
        FDelete.insert(move.FDeleteLines.begin(), move.FDeleteLines.end());
        ++FMoves;
    }
};
