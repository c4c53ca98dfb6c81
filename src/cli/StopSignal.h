#pragma once

#include "engine/project/StopTest.h"

// Ctrl+C (SIGINT) and SIGTERM ask the running check or apply to stop: the
// handler only sets a flag, which the stop test polls, so the run ends at its
// next poll with its temporary file removed and its log item written. A
// second signal ends the program at once.
void InstallStopSignals();
bool StopSignalled();
TStopTest StopSignalTest();
