#pragma once

#include "JobSchedule.h"

#include <chrono>
#include <functional>
#include <optional>

// Catch-up of runs missed while the program was not running or the machine
// slept ("CatchUp" = "True").
//
// A job has missed a run when the run that its row would have armed at its
// last start L falls at or before now. That run, as a full date and time, is
// the armed hour and minute on L's day when they lie after L's time of day,
// else on the following day: the alarm's own rule.

// The full date and time of the run armed at `at`; nullopt when nothing would be armed.
std::optional<TDateTime> ArmedRunAt(const TJobScheduleTexts& texts, TDateTime at);
// Whether the run armed at lastStart falls at or before now.
bool MissedRun(const TJobScheduleTexts& texts, TDateTime lastStart, TDateTime now);

using TSteadyTime = std::chrono::steady_clock::time_point;

inline constexpr std::chrono::minutes CatchUpDelay{2};
// A wall clock that runs ahead of the steady clock by more than this between
// two checks has jumped forward: a resume from sleep, or the clock was set.
inline constexpr std::chrono::minutes ClockJumpThreshold{2};

// When a missed run is made up for: 2 minutes after the scheduler starts, or
// 2 minutes after the wall clock is seen to jump forward. The owner feeds it
// both clocks at every check, so tests drive it with clocks of their own.
class TCatchUp {
public:
    using TLastStart = std::function<std::optional<TDateTime>()>;

    // The job's schedule and its "CatchUp" switch; applies from the next check on.
    void Configure(bool enabled, const TJobScheduleTexts& texts);
    // The scheduler starts watching the job: a catch-up run is due 2 minutes
    // later when the job missed a run since lastStart (a job that never ran
    // has missed nothing).
    void Begin(std::optional<TDateTime> lastStart, TDateTime now, TSteadyTime steady);
    // A check: notices a jump (and then asks lastStart for the last start; a
    // job that never ran counts from Begin). True once, when the catch-up run is due.
    // While mayRun is false (a run goes on, a pause) a due run stays due.
    bool Check(const TLastStart& lastStart, TDateTime now, TSteadyTime steady, bool mayRun = true);
    // A run began: whatever was due is made up for.
    void Cancel();

    // The wall-clock time of the pending catch-up run, if one is pending.
    std::optional<TDateTime> DueAt() const { return FDueWall; }

private:
    void ArmIfMissed(std::optional<TDateTime> lastStart, TDateTime now, TSteadyTime steady);

    bool FEnabled = false;
    TJobScheduleTexts FTexts;
    TDateTime FBegan{};
    std::optional<TDateTime> FLastWall;
    TSteadyTime FLastSteady{};
    std::optional<TSteadyTime> FDueSteady;
    std::optional<TDateTime> FDueWall;
};
