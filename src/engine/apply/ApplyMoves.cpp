#include "ApplyMoves.h"

#include "engine/volume/RootedPath.h"

namespace {

// Renames one entry within the target; the reason of a failure, or empty.
std::string MakeMove(TVolume& target, const TMove& move) {
    int error = 0;
    std::string fromName, toName;
    const TFolderRef from = target.OpenParent(move.FFrom, TFolderWalk::Existing, fromName, error);
    if (!from) {
        return WalkErrorText(error);
    }
    const TFolderRef to = target.OpenParent(move.FTo, TFolderWalk::Create, toName, error);
    if (!to) {
        return WalkErrorText(error);
    }
    error = target.Rename(*from, fromName, *to, toName, false);
    return error == 0 ? std::string() : WalkErrorText(error);
}

} // namespace

std::string MoveFallbackReason(const std::string& to, const std::string& reason) {
    return "not renamed to " + to + " (" + reason + "): copied and deleted instead";
}

void WriteMoveLog(TLogBuffer& log, const TMovedLines& moved, const std::vector<TItemFailure>& fallbacks) {
    log.WriteLogElement("MoveCount", std::to_string(moved.FMoves));
    for (const TItemFailure& fallback : fallbacks) {
        log.WriteLogElement("MoveFail", fallback.FPath);
    }
}

TMovedLines ApplyMoves(const TMovePlan& plan, TVolume& target, TProgressSink& progress,
                       const TStopTest& stopRequested, std::vector<TItemFailure>* fallbacks) {
    TMovedLines moved;
    progress.ResetProgress(plan.FMoves.size());
    for (const TMove& move : plan.FMoves) {
        if (StopRequestedBy(stopRequested)) {
            break;
        }
        progress.ShowItem(MoveItemPrefix, target.Root() + move.FTo);
        if (!IsSafePlanLine(move.FFrom) || !IsSafePlanLine(move.FTo)) {
            continue;
        }
        if (const std::string reason = MakeMove(target, move); reason.empty()) {
            moved.Add(move);
        } else if (fallbacks != nullptr) {
            fallbacks->push_back(
                {target.Root() + move.FFrom, MoveFallbackReason(target.Root() + move.FTo, reason)});
        }
    }
    return moved;
}
