#pragma once

#include "config/IniFile.h"
#include "runlog/RunLog.h"

#include <string>

// Exit statuses of the command-line tool.
enum TExitStatus : int {
    ExitCompleted = 0,    // completed, no failed item
    ExitItemsFailed = 1,  // completed, some items failed
    ExitNotCompleted = 2, // rejected, stopped by an error, or nothing to run
    ExitUsage = 64,       // bad usage
};

int CommandProjects(const TIniFile& ini);
int CommandJobs(const TIniFile& ini);
int CommandCheck(const TIniFile& ini, const std::string& projectName);
int CommandSync(const TIniFile& ini, const TRunLog& runLog, const std::string& projectName);
int CommandRunJob(const TIniFile& ini, const TRunLog& runLog, const std::string& jobName);
