#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"

#include <string>

// Prints what the job's monitor row would arm if rescheduled at the moment
// given: "HH:mm", or "暂停" when nothing would be armed.
int CommandNextRun(const TIniFile& ini, const std::string& jobName, TDateTime at);
