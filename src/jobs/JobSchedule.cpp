#include "JobSchedule.h"

#include "JobRecord.h"

#include <cstdio>

namespace {

constexpr std::int64_t MsPerMinute = 60'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b) {
    return a - FloorDiv(a, b) * b;
}

// Minutes since midnight, seconds dropped.
std::int64_t MinuteOfDay(TDateTime value) {
    const TDateTimeFields f = DecodeDateTime(value);
    return f.FHour * 60 + f.FMinute;
}

TDateTime OnReferenceDay(std::int64_t minutes) {
    return TDateTime{ScheduleReferenceDay().FMilliseconds + minutes * MsPerMinute};
}

// Raises EConvertError for a missing or unreadable date-time.
std::int64_t StoredMinuteOfDay(const std::optional<std::string>& text) {
    if (!text) {
        throw EConvertError("no time stored");
    }
    const std::optional<TDateTime> value = TryTextToDateTime(*text);
    if (!value) {
        throw EConvertError("'" + *text + "' is not a valid date and time");
    }
    return MinuteOfDay(*value);
}

struct TPeriod {
    std::int64_t FLength = 0;
    bool FHours = false;

    // Minutes past the reference day's midnight one period after t. Hours keep
    // only the hour of the sum, wrapped into the day; minutes are not reduced,
    // so a sum past midnight lies on the following day.
    std::int64_t After(std::int64_t t) const {
        if (FHours) {
            return FloorMod(FloorDiv(t + FLength * 60, 60), 24) * 60;
        }
        return t + FLength;
    }
};

TDateTime PeriodicNextRun(const TJobScheduleTexts& texts, TDateTime now) {
    TPeriod period;
    period.FLength = TextToInt(texts.FEditMinute.value_or("0"));
    period.FHours = TextToInt(texts.FCbTime.value_or("0")) != PeriodUnitMinutes;
    const std::int64_t begin = StoredMinuteOfDay(texts.FTimeBegin);
    const std::int64_t end = StoredMinuteOfDay(texts.FTimeEnd);
    const auto inWindow = [&](std::int64_t t) { return begin <= t && t <= end; };

    std::int64_t t = MinuteOfDay(now);
    if (!inWindow(t)) {
        t = begin;
    }
    t = period.After(t);
    if (!inWindow(t)) {
        // Past the window: the next run is the window's first one (the next
        // day), not never.
        t = period.After(begin);
        if (!inWindow(t)) {
            return NothingArmed;
        }
    }
    return OnReferenceDay(t);
}

} // namespace

TDateTime ScheduleReferenceDay() {
    return EncodeDateTime({2005, 1, 1, 0, 0, 0, 0});
}

TJobScheduleTexts ReadJobScheduleTexts(const TIniFile& ini, const std::string& jobName) {
    namespace K = JobKey;
    const std::string section = JobSection(jobName);
    // One snapshot of the section: a save meanwhile never mixes two schedules.
    const TIniFile::TValues values = ini.ReadSectionValues(section);
    // A stored value is one line, so a line break never comes from the file.
    const std::string missing = "\n";
    const auto read = [&](const std::string& key) -> std::optional<std::string> {
        std::string value = ValueOf(values, key, missing);
        if (value == missing) {
            return std::nullopt;
        }
        return value;
    };
    TJobScheduleTexts texts;
    texts.FEditMinute = read(K::EditMinute);
    texts.FCbTime = read(K::CbTime);
    texts.FDateJob = read(K::DateJob);
    texts.FTimeBegin = read(K::TimeBegin);
    texts.FTimeEnd = read(K::TimeEnd);
    texts.FCbJobValid = read(K::CbJobValid);
    texts.FRbDay = read(K::RbDay);
    texts.FRbChange = read(K::RbChange);
    texts.FRbConnect = read(K::RbConnect);
    return texts;
}

TDateTime NextRunTime(const TJobScheduleTexts& texts, TDateTime now) {
    if (!TextIsTrue(texts.FCbJobValid.value_or("False"))) {
        return NothingArmed;
    }
    if (TextIsTrue(texts.FRbChange.value_or("False")) || TextIsTrue(texts.FRbConnect.value_or("False"))) {
        return NothingArmed;
    }
    try {
        if (TextIsTrue(texts.FRbDay.value_or("False"))) {
            return OnReferenceDay(StoredMinuteOfDay(texts.FDateJob));
        }
        return PeriodicNextRun(texts, now);
    } catch (const EConvertError&) {
        return NothingArmed;
    }
}

TDateTime NextRunTime(const TIniFile& ini, const std::string& jobName, TDateTime now) {
    TJobRecord options;
    try {
        ReadJobOptions(ini, jobName, options);
    } catch (const EConvertError&) {
        return NothingArmed; // an unreadable value of the job leaves it unarmed
    }
    return NextRunTime(ReadJobScheduleTexts(ini, jobName), now);
}

std::string FormatNextRun(TDateTime nextRun) {
    if (nextRun == NothingArmed) {
        return NotArmedText;
    }
    const TDateTimeFields f = DecodeDateTime(nextRun);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", f.FHour, f.FMinute);
    return text;
}
