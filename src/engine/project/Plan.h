#pragma once

#include "LostFolder.h"
#include "config/StringList.h"

#include <string>
#include <vector>

// One item a check or an apply could not handle: the full path it concerns
// and why (the system's message, or a short English reason).
struct TItemFailure {
    std::string FPath;
    std::string FReason;
};

// The plan of a check: paths relative to the source root (new, update) or to
// the target root (delete), in index order; a line ending with the path
// delimiter names a folder.
struct TPlan {
    TStringList FNewList;
    TStringList FUpdateList;
    TStringList FDeleteList;
    // What the check could not list or examine. A plan with errors is still a
    // plan, but its caller reports them: the run did not see everything.
    std::vector<TItemFailure> FErrors;
    // How many entries the two indexes held (the target's only with the
    // delete pass): what the deletion guard weighs the delete list against.
    std::size_t FSourceEntries = 0;
    std::size_t FTargetEntries = 0;
    // Set when the check ended because a folder could no longer be reached.
    TLostFolder FLost;

    void Clear() {
        FNewList.clear();
        FUpdateList.clear();
        FDeleteList.clear();
        FErrors.clear();
        FSourceEntries = 0;
        FTargetEntries = 0;
        FLost = {};
    }
};

// The folder with one trailing path delimiter (none added when it has one).
std::string WithTrailingDelimiter(const std::string& folder);

// True for text that is empty or made only of blanks and control characters.
bool IsBlank(const std::string& text);

// A plan line may only name something below its root: not empty, not
// absolute, no ".." component and no NUL byte. Lines typed by hand or read
// from elsewhere are checked before they are joined to a root.
bool IsSafePlanLine(const std::string& line);
