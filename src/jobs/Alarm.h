#pragma once

#include "config/DateTime.h"

#include <optional>

// The alarm of a job's monitor row: an armed hour and minute that fire once
// per pass through that minute. The row calls Check every 450 ms (and at once
// when the system time changes) with the current time.
class TAlarm {
public:
    // Arms hour:minute and recomputes the waiting flag at now.
    void SetTime(int hour, int minute, TDateTime now);
    void SetEnabled(bool enabled) { FEnabled = enabled; }
    // What the row does with a computed next run: NothingArmed disables the
    // alarm; any other time arms its hour and minute and enables it.
    void Arm(TDateTime nextRun, TDateTime now);

    // True when the alarm fires: enabled, now in the armed minute, and the
    // waiting flag set (which the firing clears). Any other check recomputes
    // the waiting flag.
    bool Check(TDateTime now);

    int Hour() const { return FHour; }
    int Minute() const { return FMinute; }
    bool Enabled() const { return FEnabled; }
    // Set while the armed minute is still ahead today. An alarm armed for
    // 00:00 always waits, so it also fires when armed during the minute 00:00,
    // unless it has fired in that minute already: a run that ends within the
    // minute and re-arms its job does not run it again.
    bool Waiting() const { return FWaiting; }

private:
    void UpdateWaiting(TDateTime now);

    int FHour = 0;
    int FMinute = 0;
    bool FEnabled = false;
    bool FWaiting = false;
    std::optional<TDateTime> FFiredAt;
};
