#include "JobRecord.h"

#include <algorithm>

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

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
        return SameName(job, jobName);
    });
}
