#pragma once

#include "config/IniFile.h"
#include "runlog/RunLog.h"

#include <string>

// Exit statuses of the command-line tool.
enum TExitStatus : int {
    ExitCompleted = 0,    // completed, no failed item
    ExitItemsFailed = 1,  // completed, some items failed or could not be examined
    ExitNotCompleted = 2, // rejected, stopped by a signal or an error, or nothing to run
    ExitDeleteGuard = 4,  // the deletion guard refused a project; nothing of it was written
    ExitUsage = 64,       // bad usage
};

int CommandProjects(const TIniFile& ini);
int CommandJobs(const TIniFile& ini);
// lineEnd ends every plan line: a newline, or NUL for "-0".
int CommandCheck(const TIniFile& ini, const std::string& projectName, char lineEnd = '\n',
                 bool moves = false);
// json: standard output holds one JSON object, printed when the run ends.
// jobs: copies at once (1-16), or 0 for the configuration's "ParallelCopies".
// forceDelete lets through what the deletion guard would refuse. breakLock
// takes over the lock of a receiving folder on another machine that another
// run holds (else such a project is refused, exit 2).
int CommandSync(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName, bool json = false,
                int jobs = 0, bool forceDelete = false, bool breakLock = false);
int CommandRunJob(const TIniFile& ini, const TRunLog& runLog, const std::string& jobName, bool json = false,
                  int jobs = 0, bool forceDelete = false, bool breakLock = false);
