#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"

#include <optional>
#include <string>

// Prints what the job's monitor row would arm if rescheduled at the moment
// given: "HH:mm", "暂停" when nothing would be armed, "变化时" or "连接时" for
// jobs run by their folders. With "CatchUp" on and a run missed between the
// last start (given, else read from the state file; a job that never ran
// missed nothing) and that moment, the catch-up time 2 minutes later.
int CommandNextRun(const TIniFile& ini, const std::string& jobName, TDateTime at,
                   std::optional<TDateTime> lastRun = std::nullopt);
