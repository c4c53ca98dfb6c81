#include "Apply.h"

#include "ApplyItems.h"
#include "Plan.h"

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

TPhaseResult ApplyPhase(TApplyPhase phase, const TStringList& lines, const TApplyOptions& options,
                        TLogBuffer& log, TProgressSink& progress, const TStopTest& stopRequested) {
    const TPhaseNames& names = NamesOf(phase);
    TPhaseResult result;
    const auto writeCounts = [&] {
        log.WriteLogElement(names.FDoneCount, std::to_string(result.FDone));
        log.WriteLogElement(names.FFailedCount, std::to_string(result.FFailed));
    };
    progress.ResetProgress(lines.size());
    TPhaseItems items(phase, options, stopRequested);
    try {
        for (const std::string& line : lines) {
            if (StopRequestedBy(stopRequested)) {
                result.FStopped = true;
                break;
            }
            const std::string path =
                (phase == TApplyPhase::Delete ? options.FTargetRoot : options.FWriteRoot) + line;
            progress.ShowItem(names.FPrefix, path);
            std::string reason = "the line leaves its root";
            if (IsSafePlanLine(line)) {
                try {
                    reason = items.Run(line);
                } catch (const std::exception& error) {
                    reason = error.what(); // a failed item never ends the phase
                }
            }
            const bool done = reason.empty();
            if (done) {
                ++result.FDone;
                log.WriteLogElement(names.FDone, path);
            } else {
                ++result.FFailed;
                result.FFailedLines.push_back(line);
                result.FFailures.push_back({path, reason});
                log.WriteLogElement(names.FFailed, path);
            }
        }
    } catch (...) {
        writeCounts();
        throw;
    }
    writeCounts();
    return result;
}
