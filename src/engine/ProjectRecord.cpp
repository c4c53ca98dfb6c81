#include "ProjectRecord.h"

std::string ProjectSection(const std::string& name) {
    return ProjectSectionPrefix + name;
}

TDateTime TextToThresholdDate(const std::string& text) {
    const auto value = TryTextToDateTime(text);
    if (!value) {
        throw EConvertError("'" + text + "' is not a valid date and time");
    }
    return *value;
}

TProjectRecord ReadProject(const TIniFile& ini, const std::string& name) {
    namespace K = ProjectKey;
    const std::string section = ProjectSection(name);
    const auto text = [&](const std::string& key) { return ini.ReadString(section, key, ""); };
    const auto flag = [&](const std::string& key, const char* def) {
        return TextIsTrue(ini.ReadString(section, key, def));
    };
    TProjectRecord record;
    record.FSource = text(K::Source);
    record.FTarget = text(K::Target);
    record.FDeploy = text(K::Deploy);
    record.FFileTypeInclude = text(K::FileTypeInclude);
    record.FFileTypeExcept = text(K::FileTypeExcept);
    record.FDirInclude = text(K::DirInclude);
    record.FDirExcept = text(K::DirExcept);
    record.FStayOnTop = flag(K::StayOnTop, "False");
    record.FFileDelete = flag(K::FileDelete, "False");
    record.FUpdateReadOnly = flag(K::UpdateReadOnly, "True");
    record.FUpdateToOther = flag(K::UpdateToOther, "False");
    record.FEditTime = TextToInt(ini.ReadString(section, K::EditTime, "0"));
    record.FCheckEditTime = flag(K::CheckEditTime, "False");
    record.FCheckSize = flag(K::CheckSize, "False");
    record.FIncludeBlankFolder = flag(K::IncludeBlankFolder, "False");
    record.FTime1 = TextToThresholdDate(ini.ReadString(section, K::Time1, DateTimeToText(Now())));
    return record;
}

void WriteProject(TIniFile& ini, const std::string& name, const TProjectRecord& record) {
    namespace K = ProjectKey;
    const std::string section = ProjectSection(name);
    ini.WriteString(section, K::Source, record.FSource);
    ini.WriteString(section, K::Target, record.FTarget);
    ini.WriteString(section, K::Deploy, record.FDeploy);
    ini.WriteString(section, K::FileTypeInclude, record.FFileTypeInclude);
    ini.WriteString(section, K::FileTypeExcept, record.FFileTypeExcept);
    ini.WriteString(section, K::DirInclude, record.FDirInclude);
    ini.WriteString(section, K::DirExcept, record.FDirExcept);
    ini.WriteString(section, K::StayOnTop, BoolToText(record.FStayOnTop));
    ini.WriteString(section, K::FileDelete, BoolToText(record.FFileDelete));
    ini.WriteString(section, K::UpdateReadOnly, BoolToText(record.FUpdateReadOnly));
    ini.WriteString(section, K::UpdateToOther, BoolToText(record.FUpdateToOther));
    ini.WriteString(section, K::EditTime, std::to_string(record.FEditTime));
    ini.WriteString(section, K::CheckEditTime, BoolToText(record.FCheckEditTime));
    ini.WriteString(section, K::CheckSize, BoolToText(record.FCheckSize));
    ini.WriteString(section, K::IncludeBlankFolder, BoolToText(record.FIncludeBlankFolder));
    ini.WriteString(section, K::Time1, DateTimeToText(record.FTime1));
}

void ListProjects(const TIniFile& ini, TStringList& list) {
    ListSectionsWithPrefix(ini, ProjectSectionPrefix, list);
}

void DeleteProject(TIniFile& ini, const std::string& name) {
    ini.EraseSection(ProjectSection(name));
}
