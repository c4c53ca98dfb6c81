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
        if (fires) {
            FFiredAt = now;
        }
        return fires;
    }
    UpdateWaiting(now);
    return false;
}

void TAlarm::UpdateWaiting(TDateTime now) {
    const TDateTimeFields f = DecodeDateTime(now);
    const long nowMs = ((f.FHour * 60L + f.FMinute) * 60 + f.FSecond) * 1000 + f.FMillisecond;
    const long armedMs = (FHour * 60L + FMinute) * 60'000;
    bool firedThisMinute = false;
    if (FFiredAt) {
        const TDateTimeFields fired = DecodeDateTime(*FFiredAt);
        firedThisMinute = fired.FYear == f.FYear && fired.FMonth == f.FMonth && fired.FDay == f.FDay &&
                          fired.FHour == f.FHour && fired.FMinute == f.FMinute;
    }
    FWaiting = nowMs < armedMs || (armedMs == 0 && !firedThisMinute);
}
