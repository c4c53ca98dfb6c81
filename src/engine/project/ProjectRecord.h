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

// How symbolic links in the source and the target are treated ("Links").
enum class TLinkMode {
    File, // "file": a link to a file counts as that file; a link to a folder is left out
    Link, // "link": a link is an entry of its own, copied as a link and never followed
    Skip, // "skip": links are neither listed nor copied, on either side
};

// "TimeTolerance" = "auto": 2 seconds on FAT-family file systems, else 0.
inline constexpr int TimeToleranceAuto = -1;

// The ssh command of a project that names no other.
inline const std::string DefaultSshCommand = "ssh";

// One project's settings: the sixteen original values, then the keys that
// guard, version and compare (absent keys keep the original behaviour, except
// the deletion guard, which is on unless switched off).
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

    // Deletion guard.
    bool FDeleteGuard = true;
    int FDeleteGuardPercent = 50;
    int FDeleteGuardCount = 10;
    std::string FSourceMarker; // a file name the source root must hold; empty: none
    // Versions of what a run overwrites or deletes.
    bool FVersioning = false;
    std::string FVersionFolder; // empty: ".pairwell-versions" in the receiving folder
    int FVersionKeepDays = 30;  // 0 keeps versions for ever
    // Time comparison.
    int FTimeTolerance = TimeToleranceAuto; // seconds, or TimeToleranceAuto
    std::string FIgnoreTimeShift;           // "|"-separated minutes
    // Links and content.
    TLinkMode FLinks = TLinkMode::File;
    bool FCompareContent = false;
    bool FVerifyCopy = false;
    // A file or folder that the plan deletes at one place and creates at
    // another is renamed in the target instead of copied again.
    bool FDetectMoves = true;
    // Folders on another machine: the ssh command and its options, split on blanks.
    std::string FSshCommand = DefaultSshCommand;
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
inline const std::string DeleteGuard = "DeleteGuard";
inline const std::string DeleteGuardPercent = "DeleteGuardPercent";
inline const std::string DeleteGuardCount = "DeleteGuardCount";
inline const std::string SourceMarker = "SourceMarker";
inline const std::string Versioning = "Versioning";
inline const std::string VersionFolder = "VersionFolder";
inline const std::string VersionKeepDays = "VersionKeepDays";
inline const std::string TimeTolerance = "TimeTolerance";
inline const std::string IgnoreTimeShift = "IgnoreTimeShift";
inline const std::string Links = "Links";
inline const std::string SshCommand = "SshCommand";
inline const std::string CompareContent = "CompareContent";
inline const std::string VerifyCopy = "VerifyCopy";
inline const std::string DetectMoves = "DetectMoves";
} // namespace ProjectKey

// The stored texts of the link modes and of the automatic tolerance.
std::string LinkModeToText(TLinkMode mode);
TLinkMode TextToLinkMode(const std::string& text); // raises EConvertError
std::string TimeToleranceToText(int seconds);
int TextToTimeTolerance(const std::string& text); // raises EConvertError

std::string ProjectSection(const std::string& name);

// Reads a project as the background runs do, from one snapshot of its section
// (so never half of one save and half of another): every missing key takes
// its default; a switch is on only for exactly "True". Raises EConvertError
// when "EditTime" or another number is not a whole number (or is negative
// where that makes no sense), "Time1" is not a date-time, or "Links" or
// "TimeTolerance" holds an unknown word.
TProjectRecord ReadProject(const TIniFile& ini, const std::string& name);
// The same from a section already read with ReadSectionValues.
TProjectRecord ReadProject(const TIniFile::TValues& section);
// Converts a stored "Time1" text; raises EConvertError.
TDateTime TextToThresholdDate(const std::string& text);
// Writes every key in its order, in one replacement of the file;
// other keys of the section stay.
void WriteProject(TIniFile& ini, const std::string& name, const TProjectRecord& record);
void ListProjects(const TIniFile& ini, TStringList& list);
void DeleteProject(TIniFile& ini, const std::string& name);
