#pragma once

#include "Versions.h"
#include "config/DateTime.h"
#include "engine/project/Plan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One version: the run folder it lies in and the path it had below the
// receiving folder.
struct TVersionFile {
    std::string FRunFolder;
    TDateTime FStart;
    int FSequence = 1;
    std::string FPath;
    std::int64_t FSize = 0;
};

// Every version in the folder, sorted by path, then by run (time, then
// sequence). Only run folders are read, links are never followed, and the
// temporary files of copies are left out. A folder that cannot be read goes
// into errors (when given) with its path and the system's message.
std::vector<TVersionFile> ListVersions(const std::string& versionRoot,
                                       std::vector<TItemFailure>* errors = nullptr);

// The newest version of path whose run started at or before at (any run
// without at); nothing when there is none.
std::optional<TVersionFile> FindVersion(const std::vector<TVersionFile>& versions, const std::string& path,
                                        std::optional<TDateTime> at);

// True when path is filter, or lies below the folder filter.
bool IsVersionOf(const std::string& path, const std::string& filter);

// "yyyy-MM-dd HH:mm:ss" of a run start.
std::string FormatVersionTime(TDateTime start);

// Copies the version to its path below destinationRoot (folders made where
// missing). A file that the copy replaces is kept in store first; the version
// itself stays. Returns the reason of a failure, or empty.
std::string RestoreVersion(const std::string& versionRoot, const TVersionFile& version,
                           const std::string& destinationRoot, TVersionStore& store);
