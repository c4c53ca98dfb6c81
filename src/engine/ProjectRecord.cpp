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
    return ReadProject(ini.ReadSectionValues(ProjectSection(name)));
}

TProjectRecord ReadProject(const TIniFile::TValues& section) {
    namespace K = ProjectKey;
    const auto text = [&](const std::string& key) { return ValueOf(section, key, ""); };
    const auto flag = [&](const std::string& key, const char* def) {
        return TextIsTrue(ValueOf(section, key, def));
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
    record.FEditTime = TextToInt(ValueOf(section, K::EditTime, "0"));
    record.FCheckEditTime = flag(K::CheckEditTime, "False");
    record.FCheckSize = flag(K::CheckSize, "False");
    record.FIncludeBlankFolder = flag(K::IncludeBlankFolder, "False");
    record.FTime1 = TextToThresholdDate(ValueOf(section, K::Time1, DateTimeToText(Now())));
    return record;
}

void WriteProject(TIniFile& ini, const std::string& name, const TProjectRecord& record) {
    namespace K = ProjectKey;
    ini.WriteSectionValues(ProjectSection(name),
                           {
                               {K::Source, record.FSource},
                               {K::Target, record.FTarget},
                               {K::Deploy, record.FDeploy},
                               {K::FileTypeInclude, record.FFileTypeInclude},
                               {K::FileTypeExcept, record.FFileTypeExcept},
                               {K::DirInclude, record.FDirInclude},
                               {K::DirExcept, record.FDirExcept},
                               {K::StayOnTop, BoolToText(record.FStayOnTop)},
                               {K::FileDelete, BoolToText(record.FFileDelete)},
                               {K::UpdateReadOnly, BoolToText(record.FUpdateReadOnly)},
                               {K::UpdateToOther, BoolToText(record.FUpdateToOther)},
                               {K::EditTime, std::to_string(record.FEditTime)},
                               {K::CheckEditTime, BoolToText(record.FCheckEditTime)},
                               {K::CheckSize, BoolToText(record.FCheckSize)},
                               {K::IncludeBlankFolder, BoolToText(record.FIncludeBlankFolder)},
                               {K::Time1, DateTimeToText(record.FTime1)},
                           });
}

void ListProjects(const TIniFile& ini, TStringList& list) {
    ListSectionsWithPrefix(ini, ProjectSectionPrefix, list);
}

void DeleteProject(TIniFile& ini, const std::string& name) {
    ini.EraseSection(ProjectSection(name));
}
