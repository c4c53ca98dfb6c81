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

void ReadJobOptions(const TIniFile& ini, const std::string& name, TJobRecord& record) {
    namespace K = JobKey;
    const TIniFile::TValues section = ini.ReadSectionValues(JobSection(name));
    const auto number = [&](const std::string& key, const char* def) {
        const std::string text = ValueOf(section, key, def);
        const int value = TextToInt(text);
        if (value < 0) {
            throw EConvertError(key + " '" + text + "' is not a number of 0 or more");
        }
        return value;
    };
    record.FCatchUp = TextIsTrue(ValueOf(section, K::CatchUp, "False"));
    record.FRbChange = TextIsTrue(ValueOf(section, K::RbChange, "False"));
    record.FRbConnect = TextIsTrue(ValueOf(section, K::RbConnect, "False"));
    record.FQuietSeconds = number(K::QuietSeconds, "10");
    record.FMaxWaitSeconds = number(K::MaxWaitSeconds, "300");
    record.FMinIntervalSeconds = number(K::MinIntervalSeconds, "60");
    record.FStaleDays = number(K::StaleDays, "0");
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
    ini.WriteString(section, K::CatchUp, BoolToText(record.FCatchUp));
    ini.WriteString(section, K::RbChange, BoolToText(record.FRbChange));
    ini.WriteString(section, K::RbConnect, BoolToText(record.FRbConnect));
    ini.WriteString(section, K::QuietSeconds, std::to_string(record.FQuietSeconds));
    ini.WriteString(section, K::MaxWaitSeconds, std::to_string(record.FMaxWaitSeconds));
    ini.WriteString(section, K::MinIntervalSeconds, std::to_string(record.FMinIntervalSeconds));
    ini.WriteString(section, K::StaleDays, std::to_string(record.FStaleDays));

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
