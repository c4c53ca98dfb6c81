#include "CheckSettings.h"

#include "engine/versions/Versions.h"
#include "engine/volume/Volume.h"

TCheckSettings CheckSettingsFor(const TProjectRecord& record, const std::string& sourceRoot,
                                const std::string& targetRoot, const std::string& deployRoot) {
    TCheckSettings settings;
    settings.FSourceRoot = sourceRoot;
    settings.FTargetRoot = targetRoot;
    settings.FIncludeTypes = record.FFileTypeInclude;
    settings.FExcludeTypes = record.FFileTypeExcept;
    settings.FIncludePaths = record.FDirInclude;
    settings.FExcludePaths = record.FDirExcept;
    settings.FIncludeFolders = record.FIncludeBlankFolder;
    settings.FDeletePass = record.FFileDelete;
    settings.FTimeMode = record.FEditTime;
    settings.FCheckEditTime = record.FCheckEditTime;
    settings.FThreshold = StartOfDay(record.FTime1);
    settings.FCheckSize = record.FCheckSize;
    settings.FDeployRoot = record.FUpdateToOther ? deployRoot : std::string();
    settings.FLinks = record.FLinks;
    settings.FCompareContent = record.FCompareContent;
    settings.FTimeTolerance = TimeToleranceFor(record, sourceRoot, targetRoot, settings.FDeployRoot);
    return settings;
}

std::string SetVersionFolder(TCheckSettings& settings, const TProjectRecord& project,
                             const std::string& configFile) {
    const std::string& receivingRoot =
        settings.FDeployRoot.empty() ? settings.FTargetRoot : settings.FDeployRoot;
    const std::string versionRoot = VersionFolderOf(project, configFile, receivingRoot);
    if (!project.FVersioning) {
        // Versions kept while versioning was on are neither deleted as surplus nor copied.
        if (OpenVolume(versionRoot)->Facts("", true).FIsFolder) {
            settings.FVersionRoot = versionRoot;
        }
        return {};
    }
    if (std::string problem = VersionFolderProblem(versionRoot, settings.FSourceRoot, receivingRoot);
        !problem.empty()) {
        return problem;
    }
    settings.FVersionRoot = versionRoot;
    return {};
}
