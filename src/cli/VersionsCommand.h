#pragma once

#include "config/IniFile.h"

#include <optional>
#include <string>

// Lists the versions of a stored project, one per line: the run start
// "yyyy-MM-dd HH:mm:ss", a tab, the relative path, a tab, the size in bytes;
// by path, then time. With a path, only that file's versions, or those of
// the files below that folder.
int CommandVersions(const TIniFile& ini, const std::string& projectName,
                    const std::optional<std::string>& path);

// The project's receiving folder and version folder, each with a trailing
// delimiter. Returns why there are none (no such project, no target folder),
// else empty.
std::string FindVersionFolders(const TIniFile& ini, const std::string& projectName,
                               std::string& receivingRoot, std::string& versionRoot);

// A path as typed, relative to the receiving folder: a full path inside it is
// cut to that, "./" in front and delimiters at the end go.
std::string RelativeVersionPath(const std::string& typed, const std::string& receivingRoot);
