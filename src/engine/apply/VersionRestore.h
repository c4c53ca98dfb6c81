#pragma once

#include "Apply.h"
#include "config/DateTime.h"
#include "engine/project/StopTest.h"
#include "engine/versions/VersionList.h"
#include "engine/versions/Versions.h"
#include "runlog/RunLog.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A restore puts kept versions back, and logs an item of its own as a
// synchronisation does.

inline const std::string ProcessTypeRestore = "恢复";
inline const std::string ErrorNoVersion = "没有可恢复的版本";

// The versions a restore of wanted (a path below the receiving folder) takes:
// the newest version of that file at or before at (any without at), or when
// that file has none, the newest of each file below the folder wanted. In
// path order; empty when there is nothing to take.
std::vector<TVersionFile> ChooseVersions(const std::vector<TVersionFile>& versions, const std::string& wanted,
                                         std::optional<TDateTime> at);

// One file put back.
struct TRestoredFile {
    std::string FPath;       // the full path written
    TDateTime FVersionStart; // the start of the run that kept the version
    bool FReplaced = false;  // an entry stood there: an update, not a new file
};

// What a restore did, told as a synchronisation's phases tell it: files put
// back where nothing stood are "new", those put back over an entry "update".
struct TRestoreResult {
    TPhaseResult FNewResult;
    TPhaseResult FUpdateResult;
    // The stop test ended the restore before its last file.
    bool FStopped = false;
};

// Puts the chosen versions back below destinationRoot, one after the other
// until the stop test asks to stop, keeping in store every file that one
// replaces; restored hears of each file put back, as it is. Logs it as an apply does: "SourcePath" (the
// version folder), "TargetPath", the "New" and "NewFail" elements with their counts, the "Update" and
// "UpdateFail" elements with theirs, and delete counts of "0".
TRestoreResult RestoreVersions(const std::string& versionRoot, const std::vector<TVersionFile>& chosen,
                               const std::string& destinationRoot, TVersionStore& store, TLogBuffer& log,
                               const TStopTest& stopRequested = {},
                               const std::function<void(const TRestoredFile&)>& restored = {});
