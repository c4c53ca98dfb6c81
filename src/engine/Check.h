#pragma once

#include "Plan.h"
#include "Progress.h"
#include "StopTest.h"
#include "config/DateTime.h"

#include <string>

// Everything a check compares by; the roots end with the path delimiter.
struct TCheckSettings {
    std::string FSourceRoot;
    std::string FTargetRoot;
    std::string FIncludeTypes;
    std::string FExcludeTypes;
    std::string FIncludePaths;
    std::string FExcludePaths;
    bool FIncludeFolders = false;
    bool FDeletePass = false;
    int FTimeMode = 0;
    bool FCheckEditTime = false;
    TDateTime FThreshold; // midnight of the threshold date
    bool FCheckSize = false;
};

enum class TSourceVerdict { Skip, New, Update };

// Where one source index entry belongs. A source file that is gone by the
// time it is compared is skipped.
TSourceVerdict ClassifySourceEntry(const std::string& entry, const TCheckSettings& settings);
// Whether one target index entry has no source counterpart of its kind.
bool IsSurplusTargetEntry(const std::string& entry, const TCheckSettings& settings);

// Builds the plan: the source pass fills the new and update lists, the delete
// pass (when on) the delete list, each in index order. The stop test is polled
// at every folder and before every entry; a stop returns false with the lines
// found so far (and no delete lines when it came during the source pass).
// The delete pass's walk and look-ups run on a second thread meanwhile; the
// plan, the progress and the stop test stay on the calling thread.
bool RunCheck(const TCheckSettings& settings, TPlan& plan, TProgressSink& progress,
              const TStopTest& stopRequested = {});

// Progress texts of a check.
inline const std::string CheckStatusSourceIndex = "生成源文件索引...";
inline const std::string CheckStatusTargetIndex = "生成更多目标文件索引...";
inline const std::string CheckItemPrefix = "检查: ";
