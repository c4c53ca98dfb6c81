#include "Apply.h"

#include "ApplyItems.h"
#include "ParallelApply.h"
#include "engine/volume/LostVolume.h"
#include "engine/volume/Volume.h"

#include "engine/project/Plan.h"
#include <algorithm>

namespace {

struct TPhaseNames {
    std::string FPrefix, FDone, FFailed, FDoneCount, FFailedCount;
};

const TPhaseNames& NamesOf(TApplyPhase phase) {
    static const TPhaseNames names[] = {
        {"新建: ", "New", "NewFail", "NewCount", "NewFailCount"},
        {"更新: ", "Update", "UpdateFail", "UpdateCount", "UpdateFailCount"},
        {"删除: ", "Delete", "DeleteFail", "DeleteCount", "DeleteFailCount"},
    };
    return names[static_cast<int>(phase)];
}

} // namespace

TApplyOptions WithVolumes(const TApplyOptions& options) {
    TApplyOptions opened = options;
    if (!opened.FSourceVolume) {
        opened.FSourceVolume = OpenVolume(opened.FSourceRoot);
    }
    if (!opened.FTargetVolume) {
        opened.FTargetVolume = OpenVolume(opened.FTargetRoot);
    }
    if (!opened.FWriteVolume) {
        opened.FWriteVolume =
            opened.FWriteRoot == opened.FTargetRoot ? opened.FTargetVolume : OpenVolume(opened.FWriteRoot);
    }
    return opened;
}

TPhaseResult ApplyPhase(TApplyPhase phase, const TStringList& lines, const TApplyOptions& givenOptions,
                        TLogBuffer& log, TProgressSink& progress, const TStopTest& givenStop) {
    const TApplyOptions options = WithVolumes(givenOptions);
    const std::vector<std::shared_ptr<TVolume>> volumes = {options.FSourceVolume, options.FTargetVolume,
                                                           options.FWriteVolume};
    const TStopTest stopRequested = StopWhenLost(givenStop, volumes);
    const TPhaseNames& names = NamesOf(phase);
    TPhaseResult result;
    const auto writeCounts = [&] {
        log.WriteLogElement(names.FDoneCount, std::to_string(result.FDone));
        log.WriteLogElement(names.FFailedCount, std::to_string(result.FFailed));
    };
    progress.ResetProgress(lines.size());
    const std::string& root = phase == TApplyPhase::Delete ? options.FTargetRoot : options.FWriteRoot;
    const auto show = [&](std::size_t i) { progress.ShowItem(names.FPrefix, root + lines[i]); };
    const auto done = [&](std::size_t i, const std::string& reason) {
        const std::string path = root + lines[i];
        if (reason.empty()) {
            ++result.FDone;
            log.WriteLogElement(names.FDone, path);
        } else {
            ++result.FFailed;
            result.FFailedLines.push_back(lines[i]);
            result.FFailures.push_back({path, reason});
            log.WriteLogElement(names.FFailed, path);
        }
    };
    try {
        // Copies may run side by side; deletions run one after the other.
        if (phase != TApplyPhase::Delete && options.FParallelCopies > 1 && lines.size() > 1) {
            const auto workers = static_cast<unsigned>(
                std::min<std::size_t>(static_cast<std::size_t>(options.FParallelCopies), lines.size()));
            result.FStopped =
                RunPhaseItemsInParallel(phase, lines, options, workers, show, done, stopRequested);
        } else {
            TPhaseItems items(phase, options, stopRequested);
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (StopRequestedBy(stopRequested)) {
                    result.FStopped = true;
                    break;
                }
                show(i);
                done(i, items.RunLine(lines[i]));
            }
        }
    } catch (...) {
        writeCounts();
        throw;
    }
    writeCounts();
    result.FLost = FindLostVolume(volumes);
    result.FStopped = result.FStopped || result.FLost.Lost();
    return result;
}
