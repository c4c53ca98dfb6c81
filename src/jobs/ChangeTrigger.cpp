#include "ChangeTrigger.h"

#include <algorithm>

TChangeTrigger::TChangeTrigger(std::vector<std::string> roots, TChangeTiming timing, TSteadyTime now,
                               std::size_t watchCap, std::vector<std::string> leftOut)
    : FWatcher(std::make_unique<TFolderWatcher>(std::move(roots), watchCap, std::move(leftOut))),
      FTiming(timing), FWatchedSince(now) {}

bool TChangeTrigger::Poll(TSteadyTime now) {
    if (FWatcher->ReadChanges()) {
        if (!FFirstChange) {
            FFirstChange = now;
        }
        FLastChange = now;
    }
    if (FRunning) {
        return false;
    }
    if (LimitReached()) {
        return now >= FLastRunBegan.value_or(FWatchedSince) + ChangeFallbackPeriod;
    }
    if (!FFirstChange) {
        return false;
    }
    TSteadyTime due = std::min(FLastChange + FTiming.FQuiet, *FFirstChange + FTiming.FMaxWait);
    if (FLastRunBegan) {
        due = std::max(due, *FLastRunBegan + FTiming.FMinInterval);
    }
    return now >= due;
}

void TChangeTrigger::RunStarted(TSteadyTime now) {
    // The run takes every change seen so far; later ones make another run.
    FWatcher->ReadChanges();
    FFirstChange.reset();
    FLastRunBegan = now;
    FRunning = true;
}

void TChangeTrigger::RunEnded() {
    FRunning = false;
}
