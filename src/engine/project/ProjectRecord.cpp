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

namespace {

int NonNegativeNumber(const TIniFile::TValues& section, const std::string& key, const char* def) {
    const std::string text = ValueOf(section, key, def);
    const int value = TextToInt(text);
    if (value < 0) {
        throw EConvertError(key + " '" + text + "' is not a number of 0 or more");
    }
    return value;
}

} // namespace

std::string LinkModeToText(TLinkMode mode) {
    switch (mode) {
    case TLinkMode::Link:
        return "link";
    case TLinkMode::Skip:
        return "skip";
    case TLinkMode::File:
        break;
    }
    return "file";
}

TLinkMode TextToLinkMode(const std::string& text) {
    if (text == "file") {
        return TLinkMode::File;
    }
    if (text == "link") {
        return TLinkMode::Link;
    }
    if (text == "skip") {
        return TLinkMode::Skip;
    }
    throw EConvertError("Links '" + text + "' is none of file, link, skip");
}

std::string TimeToleranceToText(int seconds) {
    return seconds == TimeToleranceAuto ? "auto" : std::to_string(seconds);
}

int TextToTimeTolerance(const std::string& text) {
    if (text == "auto") {
        return TimeToleranceAuto;
    }
    const int seconds = TextToInt(text);
    if (seconds < 0) {
        throw EConvertError("TimeTolerance '" + text + "' is neither auto nor a number of seconds");
    }
    return seconds;
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
    record.FDeleteGuard = flag(K::DeleteGuard, "True");
    record.FDeleteGuardPercent = NonNegativeNumber(section, K::DeleteGuardPercent, "50");
    record.FDeleteGuardCount = NonNegativeNumber(section, K::DeleteGuardCount, "10");
    record.FSourceMarker = text(K::SourceMarker);
    record.FVersioning = flag(K::Versioning, "False");
    record.FVersionFolder = text(K::VersionFolder);
    record.FVersionKeepDays = NonNegativeNumber(section, K::VersionKeepDays, "30");
    record.FTimeTolerance = TextToTimeTolerance(ValueOf(section, K::TimeTolerance, "auto"));
    record.FIgnoreTimeShift = text(K::IgnoreTimeShift);
    record.FLinks = TextToLinkMode(ValueOf(section, K::Links, "file"));
    record.FCompareContent = flag(K::CompareContent, "False");
    record.FVerifyCopy = flag(K::VerifyCopy, "False");
    record.FDetectMoves = flag(K::DetectMoves, "True");
    record.FSshCommand = ValueOf(section, K::SshCommand, DefaultSshCommand);
    if (record.FSshCommand.find_first_not_of(" \t") == std::string::npos) {
        record.FSshCommand = DefaultSshCommand;
    }
    return record;
}

void WriteProject(TIniFile& ini, const std::string& name, const TProjectRecord& record) {
    namespace K = ProjectKey;
    TIniFile::TValues values{
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
        {K::DeleteGuard, BoolToText(record.FDeleteGuard)},
        {K::DeleteGuardPercent, std::to_string(record.FDeleteGuardPercent)},
        {K::DeleteGuardCount, std::to_string(record.FDeleteGuardCount)},
        {K::SourceMarker, record.FSourceMarker},
        {K::Versioning, BoolToText(record.FVersioning)},
        {K::VersionFolder, record.FVersionFolder},
        {K::VersionKeepDays, std::to_string(record.FVersionKeepDays)},
        {K::TimeTolerance, TimeToleranceToText(record.FTimeTolerance)},
        {K::IgnoreTimeShift, record.FIgnoreTimeShift},
        {K::Links, LinkModeToText(record.FLinks)},
        {K::CompareContent, BoolToText(record.FCompareContent)},
        {K::VerifyCopy, BoolToText(record.FVerifyCopy)},
        {K::DetectMoves, BoolToText(record.FDetectMoves)},
    };
    // Written only when it differs from the default, so that records of local folders stay as they were.
    if (record.FSshCommand != DefaultSshCommand &&
        record.FSshCommand.find_first_not_of(" \t") != std::string::npos) {
        values.push_back({K::SshCommand, record.FSshCommand});
    }
    ini.WriteSectionValues(ProjectSection(name), values);
}

void ListProjects(const TIniFile& ini, TStringList& list) {
    ListSectionsWithPrefix(ini, ProjectSectionPrefix, list);
}

void DeleteProject(TIniFile& ini, const std::string& name) {
    ini.EraseSection(ProjectSection(name));
}
