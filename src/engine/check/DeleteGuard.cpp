#include "DeleteGuard.h"

#include "config/FileFacts.h"

#include "engine/volume/Volume.h"

namespace {
const std::string GuardTextStart = "删除保护: ";
} // namespace

TDeleteGuardVerdict WeighDeletions(const TProjectRecord& project, std::size_t sourceEntries,
                                   std::size_t targetEntries, std::size_t deletions) {
    TDeleteGuardVerdict verdict;
    verdict.FDeletions = deletions;
    verdict.FTargetEntries = targetEntries;
    if (targetEntries > 0) {
        verdict.FPercent = static_cast<int>(deletions * 100 / targetEntries);
    }
    if (!project.FFileDelete || !project.FDeleteGuard || project.FUpdateToOther || targetEntries == 0) {
        return verdict;
    }
    const auto count = static_cast<std::size_t>(project.FDeleteGuardCount);
    const auto percent = static_cast<std::size_t>(project.FDeleteGuardPercent);
    verdict.FTripped =
        sourceEntries == 0 || (deletions >= count && deletions * 100 > percent * targetEntries);
    return verdict;
}

TDeleteGuardVerdict WeighDeletions(const TProjectRecord& project, const TPlan& plan) {
    return WeighDeletions(project, plan.FSourceEntries, plan.FTargetEntries, plan.FDeleteList.size());
}

std::string DeleteGuardText(const TDeleteGuardVerdict& verdict) {
    return GuardTextStart + "计划删除 " + std::to_string(verdict.FDeletions) + " 项, 占目标的 " +
           std::to_string(verdict.FPercent) + "%";
}

bool IsDeleteGuardText(const std::string& errorText) {
    return errorText.rfind(GuardTextStart, 0) == 0;
}

std::string SourceMarkerProblem(const TProjectRecord& project, const std::string& sourceRoot) {
    if (project.FSourceMarker.empty()) {
        return {};
    }
    const std::string start = sourceRoot + ": the marker file \"" + project.FSourceMarker + "\" is ";
    const TEntryFacts marker = OpenVolume(sourceRoot)->Facts(project.FSourceMarker, true);
    if (!marker.FExists) {
        return start + (marker.FError == 0 ? std::string("missing") : ErrorText(marker.FError));
    }
    return marker.FIsFolder ? start + "a folder" : std::string();
}
