#pragma once

#include "Check.h"
#include "ProjectRecord.h"

#include <string>

// What a check of a project compares by: its filters, switches and threshold
// (cut to midnight of its day) and time tolerance, with the given roots. The deploy root, empty
// outside deploy mode, is kept out of the source index.
TCheckSettings CheckSettingsFor(const TProjectRecord& record, const std::string& sourceRoot,
                                const std::string& targetRoot, const std::string& deployRoot);
