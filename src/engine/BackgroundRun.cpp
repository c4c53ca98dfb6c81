#include "BackgroundRun.h"

#include "Check.h"
#include "FolderIndex.h"
#include "ProjectRecord.h"
#include "config/FileFacts.h"

bool CheckProject(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress) {
    namespace K = ProjectKey;
    const std::string section = ProjectSection(run.FProjectName);
    const auto read = [&](const std::string& key, const std::string& def) {
        return ini.ReadString(section, key, def);
    };

    // A blank source would name the root of the file system once the delimiter is added.
    const std::string source = read(K::Source, "");
    run.FSourceRoot = WithTrailingDelimiter(source);
    if (IsBlank(source)) {
        run.FErrorText = ErrorInvalidSource;
        return false;
    }
    // A source that cannot be listed is rejected: taken for empty, it would
    // make every target file surplus.
    if (const int error = FolderListingError(run.FSourceRoot); error != 0) {
        run.FErrorText = ErrorInvalidSource;
        run.FErrorDetail = run.FSourceRoot + ": " + ErrorText(error);
        return false;
    }
    const std::string target = read(K::Target, "");
    if (IsBlank(target)) {
        run.FErrorText = ErrorInvalidTarget;
        return false;
    }
    run.FTargetRoot = WithTrailingDelimiter(target);

    TCheckSettings settings;
    settings.FSourceRoot = run.FSourceRoot;
    settings.FTargetRoot = run.FTargetRoot;
    settings.FCheckEditTime = TextIsTrue(read(K::CheckEditTime, "False"));
    const bool deployMode = TextIsTrue(read(K::UpdateToOther, "False"));
    settings.FTimeMode = TextToInt(read(K::EditTime, "0"));
    settings.FCheckSize = TextIsTrue(read(K::CheckSize, "False"));
    settings.FDeletePass = TextIsTrue(read(K::FileDelete, "False"));
    const std::string thresholdText = read(K::Time1, DateTimeToText(Now()));
    run.FLogBuffer.WriteLogElement("ProcessType", deployMode ? ProcessTypeDeploy : ProcessTypeSync);
    settings.FThreshold = StartOfDay(TextToThresholdDate(thresholdText));

    run.FPlan.Clear();
    settings.FExcludeTypes = read(K::FileTypeExcept, "");
    settings.FIncludePaths = read(K::DirInclude, "");
    settings.FExcludePaths = read(K::DirExcept, "");
    settings.FIncludeFolders = TextIsTrue(read(K::IncludeBlankFolder, "False"));
    settings.FIncludeTypes = read(K::FileTypeInclude, "");
    if (deployMode && !IsBlank(read(K::Deploy, ""))) {
        settings.FDeployRoot = WithTrailingDelimiter(read(K::Deploy, ""));
    }
    RunCheck(settings, run.FPlan, progress);
    return true;
}

bool ApplyPlan(const TIniFile& ini, TBackgroundRun& run, TProgressSink& progress) {
    namespace K = ProjectKey;
    const std::string section = ProjectSection(run.FProjectName);
    const auto read = [&](const std::string& key, const std::string& def) {
        return ini.ReadString(section, key, def);
    };

    TApplyOptions options;
    options.FSourceRoot = run.FSourceRoot;
    options.FTargetRoot = run.FTargetRoot;
    options.FWriteRoot = run.FTargetRoot;
    const bool deleteSurplus = TextIsTrue(read(K::FileDelete, "False"));
    options.FUpdateReadOnly = TextIsTrue(read(K::UpdateReadOnly, "True"));
    options.FDeployMode = TextIsTrue(read(K::UpdateToOther, "False"));
    if (options.FDeployMode) {
        const std::string deploy = read(K::Deploy, "");
        if (IsBlank(deploy)) {
            run.FErrorText = ErrorInvalidDeploy;
            return false;
        }
        options.FWriteRoot = WithTrailingDelimiter(deploy);
    }

    run.FLogBuffer.WriteLogElement("SourcePath", options.FSourceRoot);
    run.FLogBuffer.WriteLogElement("TargetPath", options.FWriteRoot);
    run.FNewResult = ApplyPhase(TApplyPhase::New, run.FPlan.FNewList, options, run.FLogBuffer, progress);
    run.FUpdateResult =
        ApplyPhase(TApplyPhase::Update, run.FPlan.FUpdateList, options, run.FLogBuffer, progress);
    if (deleteSurplus && !options.FDeployMode) {
        run.FDeleteResult =
            ApplyPhase(TApplyPhase::Delete, run.FPlan.FDeleteList, options, run.FLogBuffer, progress);
    } else {
        run.FDeleteResult = TPhaseResult{};
        run.FLogBuffer.WriteLogElement("DeleteCount", "0");
        run.FLogBuffer.WriteLogElement("DeleteFailCount", "0");
    }
    return true;
}
