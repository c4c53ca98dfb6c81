#include "CheckSettings.h"

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
