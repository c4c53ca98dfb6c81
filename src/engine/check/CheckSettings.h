#pragma once

#include "Check.h"
#include "engine/project/ProjectRecord.h"

#include <string>

// What a check of a project compares by: its filters, switches and threshold
// (cut to midnight of its day) and time tolerance, with the given roots. The deploy root, empty
// outside deploy mode, is kept out of the source index.
TCheckSettings CheckSettingsFor(const TProjectRecord& record, const std::string& sourceRoot,
                                const std::string& targetRoot, const std::string& deployRoot);

// For a check of a project that keeps versions: its version folder goes into
// settings (receiving folder: the deploy root, else the target root), unless
// it cannot serve; then the reason is returned and settings stay as they were.
// Without versioning an existing version folder goes into settings too, so
// that the versions kept before are never deleted as surplus.
std::string SetVersionFolder(TCheckSettings& settings, const TProjectRecord& project,
                             const std::string& configFile);
