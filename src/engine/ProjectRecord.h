#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"
#include "config/StringList.h"

#include <string>

// The section prefix of stored projects; the bare prefix is the working section.
inline const std::string ProjectSectionPrefix = "project_";

// The time modes of the update test ("EditTime").
enum TTimeMode : int {
    TimeModeTargetOlder = 0, // 小于源文件
    TimeModeTargetNewer = 1, // 大于源文件
    TimeModeDifferent = 2,   // 不等于源文件
    TimeModeAll = 3,         // 全部; any other value, -1 included, acts the same
};

// One project's settings, the sixteen stored values.
struct TProjectRecord {
    std::string FSource;
    std::string FTarget;
    std::string FDeploy;
    std::string FFileTypeInclude;
    std::string FFileTypeExcept;
    std::string FDirInclude;
    std::string FDirExcept;
    bool FStayOnTop = false;
    bool FFileDelete = false;
    bool FUpdateReadOnly = true;
    bool FUpdateToOther = false;
    int FEditTime = TimeModeTargetOlder;
    bool FCheckEditTime = false;
    bool FCheckSize = false;
    bool FIncludeBlankFolder = false;
    TDateTime FTime1 = Now();
};

// The stored keys, in the order a save writes them.
namespace ProjectKey {
inline const std::string Source = "source";
inline const std::string Target = "target";
inline const std::string Deploy = "deploy";
inline const std::string FileTypeInclude = "FileTypeInclude";
inline const std::string FileTypeExcept = "FileTypeExcept";
inline const std::string DirInclude = "dirInclude";
inline const std::string DirExcept = "dirExcept";
inline const std::string StayOnTop = "StayOnTop";
inline const std::string FileDelete = "FileDelete";
inline const std::string UpdateReadOnly = "UpdateReadOnly";
inline const std::string UpdateToOther = "UpdateToOther";
inline const std::string EditTime = "EditTime";
inline const std::string CheckEditTime = "cbCheckEditTime";
inline const std::string CheckSize = "cbCheckSize";
inline const std::string IncludeBlankFolder = "cbIncludeBlankFolder";
inline const std::string Time1 = "Time1";
} // namespace ProjectKey

std::string ProjectSection(const std::string& name);

// Reads a project as the background runs do, from one snapshot of its section
// (so never half of one save and half of another): every missing key takes
// its default; a switch is on only for exactly "True". Raises EConvertError
// when "EditTime" is not a whole number or "Time1" is not a date-time.
TProjectRecord ReadProject(const TIniFile& ini, const std::string& name);
// The same from a section already read with ReadSectionValues.
TProjectRecord ReadProject(const TIniFile::TValues& section);
// Converts a stored "Time1" text; raises EConvertError.
TDateTime TextToThresholdDate(const std::string& text);
// Writes the sixteen keys in their order, in one replacement of the file;
// other keys of the section stay.
void WriteProject(TIniFile& ini, const std::string& name, const TProjectRecord& record);
void ListProjects(const TIniFile& ini, TStringList& list);
void DeleteProject(TIniFile& ini, const std::string& name);
