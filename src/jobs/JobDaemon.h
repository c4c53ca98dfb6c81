#pragma once

#include "JobTriggers.h"
#include "engine/project/StopTest.h"

#include <functional>
#include <ostream>
#include <string>

// The scheduler without a window: every enabled job of the configuration on
// the same schedule, runner, run log and state file as the window's rows (no
// pause). The configuration is read again whenever its file changes.
struct TDaemonOptions {
    // Asked about ten times a second; once true, every run stops at its next
    // file (logged "中止") and the daemon returns when the runners have ended.
    TStopTest FStopRequested;
    // One line per run begun and ended, and the reason for giving up.
    std::ostream* FMessages = nullptr;
    TTriggerTuning FTuning;
    // The wall clock; tests set one of their own.
    std::function<TDateTime()> FNow = [] { return Now(); };
};

// Exit statuses: 0 after a stop, 2 when another scheduler holds the
// configuration or its lock cannot be taken.
int RunJobDaemon(const std::string& configFile, const TDaemonOptions& options);
