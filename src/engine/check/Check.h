#pragma once

// The passes of a check over the two indexes, and the plan they make.

#include "CheckEntry.h"
#include "CheckSettings.h"
#include "engine/project/Plan.h"
#include "engine/project/Progress.h"
#include "engine/project/StopTest.h"

#include <string>

// Builds the plan: the source pass fills the new and update lists, the delete
// pass (when on) the delete list, each in index order. The stop test is polled
// at every folder and before every entry; a stop seen at any of those tests
// returns false with the lines found so far (and no delete lines when it came
// during the source pass), never a plan that looks complete.
// What could not be listed or examined goes into plan.FErrors, and nothing is
// planned on what is not known: a source folder that cannot be listed has no
// delete lines below it, an entry that cannot be examined has no line. The
// check still returns true then; its caller reports the errors. A source or
// target volume lost mid-check (TVolume::LostReason) ends it: false, with plan.FLost set.
// The delete pass's walk and look-ups run on a second thread meanwhile; the
// plan, the progress and the stop test stay on the calling thread.
bool RunCheck(const TCheckSettings& settings, TPlan& plan, TProgressSink& progress,
              const TStopTest& stopRequested = {});

// Progress texts of a check.
inline const std::string CheckStatusSourceIndex = "生成源文件索引...";
inline const std::string CheckStatusTargetIndex = "生成更多目标文件索引...";
inline const std::string CheckItemPrefix = "检查: ";
