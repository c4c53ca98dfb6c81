#include "Alarm.h"

#include "JobSchedule.h"

void TAlarm::SetTime(int hour, int minute, TDateTime now) {
    FHour = hour;
    FMinute = minute;
    UpdateWaiting(now);
}

void TAlarm::Arm(TDateTime nextRun, TDateTime now) {
    if (nextRun == NothingArmed) {
        FEnabled = false;
        return;
    }
    const TDateTimeFields f = DecodeDateTime(nextRun);
    SetTime(f.FHour, f.FMinute, now);
    FEnabled = true;
}

bool TAlarm::Check(TDateTime now) {
    const TDateTimeFields f = DecodeDateTime(now);
    if (FEnabled && f.FHour == FHour && f.FMinute == FMinute) {
        const bool fires = FWaiting;
        FWaiting = false;
        return fires;
    }
    UpdateWaiting(now);
    return false;
}

void TAlarm::UpdateWaiting(TDateTime now) {
    const TDateTimeFields f = DecodeDateTime(now);
    const long nowMs = ((f.FHour * 60L + f.FMinute) * 60 + f.FSecond) * 1000 + f.FMillisecond;
    const long armedMs = (FHour * 60L + FMinute) * 60'000;
    FWaiting = nowMs < armedMs || armedMs == 0;
}
