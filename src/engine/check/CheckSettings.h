#pragma once

#include "TimeTolerance.h"
#include "config/DateTime.h"
#include "engine/project/ProjectRecord.h"
#include "engine/volume/Volume.h"

#include <memory>
#include <string>

// Everything a check compares by; the roots end with the path delimiter.
struct TCheckSettings {
    std::string FSourceRoot;
    std::string FTargetRoot;
    std::string FIncludeTypes;
    std::string FExcludeTypes;
    std::string FIncludePaths;
    std::string FExcludePaths;
    bool FIncludeFolders = false;
    bool FDeletePass = false;
    int FTimeMode = 0;
    bool FCheckEditTime = false;
    TDateTime FThreshold; // midnight of the threshold date
    bool FCheckSize = false;
    // Within it two modification times count as equal, in every time mode,
    // unless the sizes differ: then the pair is updated in every time mode.
    TTimeTolerance FTimeTolerance;
    // In deploy mode the deploy folder (with trailing delimiter), else empty:
    // a deploy folder inside the source is left out of the source index.
    std::string FDeployRoot;
    // With versioning on the version folder (with trailing delimiter), else
    // empty: it is left out of both indexes, and nothing is planned into it.
    std::string FVersionRoot;
    // How symbolic links are listed and compared.
    TLinkMode FLinks = TLinkMode::File;
    // An existing target file is updated exactly when its size or its bytes
    // differ; the time mode and the equal-size rule then do not apply.
    bool FCompareContent = false;
    // The volumes on the two roots; null: opened on the roots when the check starts.
    std::shared_ptr<TVolume> FSourceVolume;
    std::shared_ptr<TVolume> FTargetVolume;
};

// The settings with both volumes opened on their roots.
TCheckSettings WithVolumes(const TCheckSettings& settings);

// What a check of a project compares by: its filters, switches and threshold
// (cut to midnight of its day) and time tolerance, with the given roots. The deploy root, empty
// outside deploy mode, is kept out of the source index.
TCheckSettings CheckSettingsFor(const TProjectRecord& record, const std::string& sourceRoot,
                                const std::string& targetRoot, const std::string& deployRoot);

// For a check of a project that keeps versions: its version folder goes into
// settings (receiving folder: the deploy root, else the target root), unless
// it cannot serve; then the reason is returned and settings stay as they were.
// Without versioning an existing version folder goes into settings too, so
// that the versions kept before are never deleted as surplus.
std::string SetVersionFolder(TCheckSettings& settings, const TProjectRecord& project,
                             const std::string& configFile);
