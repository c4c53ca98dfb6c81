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

void WriteJob(TIniFile& ini, const std::string& name, const TJobRecord& record) {
    namespace K = JobKey;
    const std::string section = JobSection(name);
    ini.WriteString(section, K::EditMinute, std::to_string(record.FEditMinute));
    ini.WriteString(section, K::CbTime, std::to_string(record.FCbTime));
    ini.WriteString(section, K::DateJob, DateTimeToText(record.FDateJob));
    ini.WriteString(section, K::TimeBegin, DateTimeToText(record.FTimeBegin));
    ini.WriteString(section, K::TimeEnd, DateTimeToText(record.FTimeEnd));
    ini.WriteString(section, K::CbJobValid, BoolToText(record.FCbJobValid));
    ini.WriteString(section, K::RbDay, BoolToText(record.FRbDay));
    ini.WriteString(section, K::RbPeriod, BoolToText(record.FRbPeriod));

    const std::string projectSection = JobProjectSection(name);
    ini.EraseSection(projectSection);
    for (std::size_t i = 0; i < record.FProjects.size(); ++i) {
        ini.WriteString(projectSection, std::to_string(i), record.FProjects[i]);
    }
}

void DeleteJob(TIniFile& ini, const std::string& name) {
    ini.EraseSection(JobSection(name));
    ini.EraseSection(JobProjectSection(name));
}
