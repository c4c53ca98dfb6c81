#pragma once

#include "config/IniFile.h"
#include "config/StringList.h"

#include <string>

inline const std::string JobSectionPrefix = "job_";
inline const std::string JobProjectSectionPrefix = "job-project_";

std::string JobSection(const std::string& name);
std::string JobProjectSection(const std::string& name);

// The job names in file order.
void ListJobs(const TIniFile& ini, TStringList& list);
// The project names of a job, in the order its keys stand.
TStringList ReadJobProjects(const TIniFile& ini, const std::string& jobName);
// Whether the job is listed or has a project list.
bool JobExists(const TIniFile& ini, const std::string& jobName);
