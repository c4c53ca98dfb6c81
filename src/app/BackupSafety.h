#pragma once

#include "engine/project/ProjectRecord.h"

#include <QString>
#include <cstddef>
#include <string>
#include <vector>

struct TProjectRunResult;

// The window's side of the deletion guard, the source marker and the flush.

// The stronger question asked instead of the usual confirmation when the
// checked plan trips the deletion guard; empty when it does not.
QString DeleteGuardQuestion(const TProjectRecord& record, std::size_t sourceEntries,
                            std::size_t targetEntries, std::size_t deleteLines);

// The refusal of a check whose source lacks the project's marker file; empty
// when the marker is not set or present.
QString SourceMarkerRefusal(const TProjectRecord& record, const std::string& sourceRoot);

// The notice of a run whose data could not be flushed to the device.
QString FlushFailureNotice(const std::string& reason);

// The monitor row's line after a run: why the guard refused which projects;
// empty when it refused none.
QString DeleteGuardRowDetail(const std::vector<TProjectRunResult>& results);
