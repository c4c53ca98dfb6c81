#pragma once

#include "TimeTolerance.h"
#include "config/DateTime.h"
#include "engine/project/Plan.h"
#include "engine/project/Progress.h"
#include "engine/project/ProjectRecord.h"
#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"

#include <memory>
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
    // Within it two modification times count as equal, in every time mode.
    TTimeTolerance FTimeTolerance;
    // In deploy mode the deploy folder (with trailing delimiter), else empty:
    // a deploy folder inside the source is left out of the source index.
    std::string FDeployRoot;
    // With versioning on the version folder (with trailing delimiter), else
    // empty: it is left out of both indexes, and nothing is planned into it.
    std::string FVersionRoot;
    // How symbolic links are listed and compared.
    TLinkMode FLinks = TLinkMode::File;
    // An existing target file is updated exactly when its size or its bytes
    // differ; the time mode and the equal-size rule then do not apply.
    bool FCompareContent = false;
    // The volumes on the two roots; null: opened on the roots when the check starts.
    std::shared_ptr<TVolume> FSourceVolume;
    std::shared_ptr<TVolume> FTargetVolume;
};

// The settings with both volumes opened on their roots.
TCheckSettings WithVolumes(const TCheckSettings& settings);

// Error: the entry or its counterpart could not be examined, so it is in no list.
enum class TSourceVerdict { Skip, New, Update, Error };

// Where one source index entry belongs. A source file that is gone by the
// time it is compared is skipped; one that cannot be examined (or, with the
// equal-size rule, whose size cannot be read) is an error.
TSourceVerdict ClassifySourceEntry(const std::string& entry, const TCheckSettings& settings);
// Whether one target index entry has no source counterpart of its kind. A
// counterpart that cannot be examined is not taken for absent.
bool IsSurplusTargetEntry(const std::string& entry, const TCheckSettings& settings);

// Builds the plan: the source pass fills the new and update lists, the delete
// pass (when on) the delete list, each in index order. The stop test is polled
// at every folder and before every entry; a stop seen at any of those tests
// returns false with the lines found so far (and no delete lines when it came
// during the source pass), never a plan that looks complete.
// What could not be listed or examined goes into plan.FErrors, and nothing is
// planned on what is not known: a source folder that cannot be listed has no
// delete lines below it, an entry that cannot be examined has no line. The
// check still returns true then; its caller reports the errors.
// The delete pass's walk and look-ups run on a second thread meanwhile; the
// plan, the progress and the stop test stay on the calling thread.
bool RunCheck(const TCheckSettings& settings, TPlan& plan, TProgressSink& progress,
              const TStopTest& stopRequested = {});

// Progress texts of a check.
inline const std::string CheckStatusSourceIndex = "生成源文件索引...";
inline const std::string CheckStatusTargetIndex = "生成更多目标文件索引...";
inline const std::string CheckItemPrefix = "检查: ";
