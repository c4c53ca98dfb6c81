#include "CatchUp.h"

namespace {

constexpr std::int64_t MsPerMinute = 60'000;
constexpr std::int64_t MsPerDay = 24 * 60 * MsPerMinute;

} // namespace

std::optional<TDateTime> ArmedRunAt(const TJobScheduleTexts& texts, TDateTime at) {
    const TDateTime armed = NextRunTime(texts, at);
    if (armed == NothingArmed) {
        return std::nullopt;
    }
    const TDateTimeFields fields = DecodeDateTime(armed);
    TDateTime run{StartOfDay(at).FMilliseconds + (fields.FHour * 60 + fields.FMinute) * MsPerMinute};
    if (run <= at) {
        run.FMilliseconds += MsPerDay;
    }
    return run;
}

bool MissedRun(const TJobScheduleTexts& texts, TDateTime lastStart, TDateTime now) {
    const std::optional<TDateTime> run = ArmedRunAt(texts, lastStart);
    return run && *run <= now;
}

void TCatchUp::Configure(bool enabled, const TJobScheduleTexts& texts) {
    FEnabled = enabled;
    FTexts = texts;
    if (!enabled) {
        Cancel();
    }
}

void TCatchUp::Begin(std::optional<TDateTime> lastStart, TDateTime now, TSteadyTime steady) {
    FBegan = now;
    FLastWall = now;
    FLastSteady = steady;
    Cancel();
    ArmIfMissed(lastStart, now, steady);
}

bool TCatchUp::Check(const TLastStart& lastStart, TDateTime now, TSteadyTime steady, bool mayRun) {
    if (FLastWall) {
        const auto wallStep = std::chrono::milliseconds(now.FMilliseconds - FLastWall->FMilliseconds);
        const auto steadyStep = std::chrono::duration_cast<std::chrono::milliseconds>(steady - FLastSteady);
        if (wallStep - steadyStep > ClockJumpThreshold && !FDueSteady) {
            ArmIfMissed(lastStart ? lastStart() : std::nullopt, now, steady);
        }
    }
    FLastWall = now;
    FLastSteady = steady;
    if (mayRun && FDueSteady && steady >= *FDueSteady) {
        Cancel();
        return true;
    }
    return false;
}

void TCatchUp::Cancel() {
    FDueSteady.reset();
    FDueWall.reset();
}

void TCatchUp::ArmIfMissed(std::optional<TDateTime> lastStart, TDateTime now, TSteadyTime steady) {
    if (!FEnabled) {
        return;
    }
    // Before the first recorded start, a wake-up counts from when watching began.
    const TDateTime since = lastStart.value_or(FBegan);
    if (MissedRun(FTexts, since, now)) {
        FDueSteady = steady + CatchUpDelay;
        FDueWall = TDateTime{now.FMilliseconds + CatchUpDelay.count() * MsPerMinute};
    }
}
