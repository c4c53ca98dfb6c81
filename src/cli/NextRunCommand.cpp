#include "NextRunCommand.h"

#include "Commands.h"
#include "jobs/JobSchedule.h"

#include <iostream>

int CommandNextRun(const TIniFile& ini, const std::string& jobName, TDateTime at) {
    std::cout << FormatNextRun(NextRunTime(ini, jobName, at)) << '\n';
    return ExitCompleted;
}
