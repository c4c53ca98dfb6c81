#include "StaleCommand.h"

#include "jobs/JobRecord.h"
#include "jobs/StaleAlert.h"

#include <iostream>

int CommandStale(const TIniFile& ini, TDateTime at) {
    TStringList jobs;
    ListJobs(ini, jobs);
    int status = 0;
    for (const std::string& job : jobs) {
        if (const std::optional<int> days = ReadStaleBackupDays(ini, job, at)) {
            std::cout << job << '\t' << *days << '\n';
            status = 1;
        }
    }
    return status;
}
