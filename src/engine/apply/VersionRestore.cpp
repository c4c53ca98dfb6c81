#include "VersionRestore.h"

#include "engine/volume/Volume.h"

#include <set>

std::vector<TVersionFile> ChooseVersions(const std::vector<TVersionFile>& versions, const std::string& wanted,
                                         std::optional<TDateTime> at) {
    // The file itself, or else every file below the folder of that name.
    std::set<std::string> paths;
    for (const TVersionFile& version : versions) {
        if (IsVersionOf(version.FPath, wanted) && (!at || version.FStart <= *at)) {
            paths.insert(version.FPath);
        }
    }
    if (paths.contains(wanted)) {
        paths = {wanted};
    }
    std::vector<TVersionFile> chosen;
    for (const std::string& path : paths) {
        chosen.push_back(*FindVersion(versions, path, at));
    }
    return chosen;
}

TRestoreResult RestoreVersions(const std::string& versionRoot, const std::vector<TVersionFile>& chosen,
                               const std::string& destinationRoot, TVersionStore& store, TLogBuffer& log,
                               const TStopTest& stopRequested,
                               const std::function<void(const TRestoredFile&)>& restored) {
    const std::string root = WithTrailingDelimiter(destinationRoot);
    const std::shared_ptr<TVolume> destination = OpenVolume(root);
    TRestoreResult result;
    // Each element goes to its phase's list; the lists are logged phase by phase afterwards.
    std::vector<std::pair<std::string, std::string>> newElements, updateElements;
    for (const TVersionFile& version : chosen) {
        if (StopRequestedBy(stopRequested)) {
            result.FStopped = true;
            break;
        }
        const std::string path = root + version.FPath;
        const TEntryFacts facts = destination->Facts(version.FPath, false);
        // What cannot be looked at may stand there: counted as replaced.
        const bool replaces = facts.FExists || facts.FError != 0;
        TPhaseResult& phase = replaces ? result.FUpdateResult : result.FNewResult;
        auto& elements = replaces ? updateElements : newElements;
        const char* const doneName = replaces ? "Update" : "New";
        const char* const failName = replaces ? "UpdateFail" : "NewFail";
        if (const std::string reason = RestoreVersion(versionRoot, version, root, store); !reason.empty()) {
            ++phase.FFailed;
            phase.FFailedLines.push_back(version.FPath);
            phase.FFailures.push_back({path, reason});
            elements.emplace_back(failName, path);
            continue;
        }
        ++phase.FDone;
        elements.emplace_back(doneName, path);
        if (restored) {
            restored({path, version.FStart, replaces});
        }
    }
    log.WriteLogElement("SourcePath", WithTrailingDelimiter(versionRoot));
    log.WriteLogElement("TargetPath", root);
    const auto writePhase = [&](const auto& elements, const TPhaseResult& phase, const char* count,
                                const char* failCount) {
        for (const auto& [name, path] : elements) {
            log.WriteLogElement(name, path);
        }
        log.WriteLogElement(count, std::to_string(phase.FDone));
        log.WriteLogElement(failCount, std::to_string(phase.FFailed));
    };
    writePhase(newElements, result.FNewResult, "NewCount", "NewFailCount");
    writePhase(updateElements, result.FUpdateResult, "UpdateCount", "UpdateFailCount");
    log.WriteLogElement("DeleteCount", "0");
    log.WriteLogElement("DeleteFailCount", "0");
    return result;
}
