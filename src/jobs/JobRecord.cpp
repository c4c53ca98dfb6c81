#include "JobRecord.h"

#include "config/AsciiCase.h"

#include <algorithm>

std::string JobSection(const std::string& name) {
    return JobSectionPrefix + name;
}
std::string JobProjectSection(const std::string& name) {
    return JobProjectSectionPrefix + name;
}

void ListJobs(const TIniFile& ini, TStringList& list) {
    ListSectionsWithPrefix(ini, JobSectionPrefix, list);
}

TStringList ReadJobProjects(const TIniFile& ini, const std::string& jobName) {
    const std::string section = JobProjectSection(jobName);
    TStringList keys;
    ini.ReadSection(section, keys);
    TStringList projects;
    projects.reserve(keys.size());
    for (const std::string& key : keys) {
        projects.push_back(ini.ReadString(section, key, ""));
    }
    return projects;
}

bool JobExists(const TIniFile& ini, const std::string& jobName) {
    TStringList jobs;
    ListJobs(ini, jobs);
    TStringList projectKeys;
    ini.ReadSection(JobProjectSection(jobName), projectKeys);
    return !projectKeys.empty() || std::any_of(jobs.begin(), jobs.end(), [&](const std::string& job) {
        return SameTextIgnoringAsciiCase(job, jobName);
    });
}
