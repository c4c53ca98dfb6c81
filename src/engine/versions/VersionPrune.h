#pragma once

#include "config/DateTime.h"

#include <string>

// Removes from the version folder each version whose run started more than
// keepDays days before now, unless it is the newest version of its path,
// which stays whatever its age. Folders that are left empty in run folders,
// and empty run folders, go; leftovers of killed copies too. keepDays 0 (or
// less) keeps everything. Nothing outside run folders is touched, and
// failures are left for the next run.
void PruneVersions(const std::string& versionRoot, int keepDays, TDateTime now);
