#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"
#include "runlog/RunLog.h"

#include <optional>
#include <string>

// Copies back the newest version of path (of every file below it, for a
// folder) whose run started at or before at (default: the newest), to its
// place in the receiving folder or below the folder to. A file that it
// replaces is kept as a version first; the version itself stays. The restore
// is logged as an item of its own ("恢复"), also when it finds nothing to
// restore. Exit 2 when there is no such version or it is stopped, 1 when a
// file could not be restored. json: standard output holds one JSON object.
// A receiving folder on another machine is locked while the restore writes
// there (exit 2 when another run holds it); breakLock takes that lock over.
int CommandRestore(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName,
                   const std::string& path, const std::optional<TDateTime>& at,
                   const std::optional<std::string>& to, bool json = false, bool breakLock = false);
