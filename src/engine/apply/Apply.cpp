#include "Apply.h"

#include "ApplyItems.h"
#include "ParallelApply.h"
#include "engine/project/Moves.h"
#include "engine/project/Plan.h"
#include "engine/volume/LostVolume.h"
#include "engine/volume/Volume.h"

#include <algorithm>
#include <unordered_set>

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

namespace {

// The lines of a phase that moves have done already.
const std::unordered_set<std::string>* MovedLinesOf(TApplyPhase phase, const TApplyOptions& options) {
    if (options.FMoved == nullptr) {
        return nullptr;
    }
    switch (phase) {
    case TApplyPhase::New:
        return &options.FMoved->FNew;
    case TApplyPhase::Delete:
        return &options.FMoved->FDelete;
    case TApplyPhase::Update:
        break;
    }
    return nullptr;
}

} // namespace

TPhaseResult ApplyPhase(TApplyPhase phase, const TStringList& givenLines, const TApplyOptions& givenOptions,
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
    const std::string& root = phase == TApplyPhase::Delete ? options.FTargetRoot : options.FWriteRoot;
    // What moves did is done: logged and counted first, without the work of the
    // phase, so that a renamed folder's files cost no more than their log lines.
    TStringList leftLines;
    const TStringList* linesToRun = &givenLines;
    if (const auto* moved = MovedLinesOf(phase, options); moved != nullptr && !moved->empty()) {
        for (const std::string& line : givenLines) {
            if (moved->contains(line)) {
                ++result.FDone;
                log.WriteLogElement(names.FDone, root + line);
            } else {
                leftLines.push_back(line);
            }
        }
        linesToRun = &leftLines;
    }
    const TStringList& lines = *linesToRun;
    progress.ResetProgress(lines.size());
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
