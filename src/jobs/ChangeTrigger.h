#pragma once

#include "CatchUp.h"
#include "FolderWatcher.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// When a job that runs on changes ("RbChange") runs: after QuietSeconds
// without further changes, but no later than MaxWaitSeconds after the first
// change, and never sooner than MinIntervalSeconds after the last run began.
// A change during a run causes one more run after it.
struct TChangeTiming {
    std::chrono::milliseconds FQuiet{10'000};
    std::chrono::milliseconds FMaxWait{300'000};
    std::chrono::milliseconds FMinInterval{60'000};
};

// Without a watch on every folder, the job looks for changes itself: a run
// (a full check) every 5 minutes.
inline constexpr std::chrono::minutes ChangeFallbackPeriod{5};

class TChangeTrigger {
public:
    // Watches the roots (the sources of the job's projects) from now on,
    // except the folders left out (the folders its runs write into).
    TChangeTrigger(std::vector<std::string> roots, TChangeTiming timing, TSteadyTime now,
                   std::size_t watchCap = 0, std::vector<std::string> leftOut = {});

    // Reads the changes seen since the last poll; true when a run is due now.
    // Never true while a run goes on.
    bool Poll(TSteadyTime now);
    void RunStarted(TSteadyTime now);
    void RunEnded();

    // The watch limit was reached: the job is checked every 5 minutes instead.
    bool LimitReached() const { return FWatcher->LimitReached(); }
    bool Pending() const { return FFirstChange.has_value(); }
    int Fd() const { return FWatcher->Fd(); }

private:
    std::unique_ptr<TFolderWatcher> FWatcher;
    TChangeTiming FTiming;
    std::optional<TSteadyTime> FFirstChange;
    TSteadyTime FLastChange{};
    std::optional<TSteadyTime> FLastRunBegan;
    TSteadyTime FWatchedSince;
    bool FRunning = false;
};
