#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"

#include <optional>
#include <string>

// Lists the versions of a stored project, one per line: the run start
// "yyyy-MM-dd HH:mm:ss", a tab, the relative path, a tab, the size in bytes;
// by path, then time. With a path, only that file's versions, or those of
// the files below that folder.
int CommandVersions(const TIniFile& ini, const std::string& projectName,
                    const std::optional<std::string>& path);

// Copies back the newest version of path (of every file below it, for a
// folder) whose run started at or before at (default: the newest), to its
// place in the receiving folder or below the folder to. A file that it
// replaces is kept as a version first; the version itself stays. Exit 2 when
// there is no such version.
int CommandRestore(const TIniFile& ini, const std::string& projectName, const std::string& path,
                   const std::optional<TDateTime>& at, const std::optional<std::string>& to);
