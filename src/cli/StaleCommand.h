#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"

// Prints, for every job whose stale-backup alert is due at the moment given,
// the job's name, a tab and the whole days since its last clean run. Exit
// status 0 when no job is stale, 1 when some are.
int CommandStale(const TIniFile& ini, TDateTime at);
