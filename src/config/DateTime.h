#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A local wall-clock date-time at whole-millisecond precision, counted from
// 1899-12-30 00:00:00.000. Comparing two values compares the calendar fields,
// which is how file times and thresholds are compared.
struct TDateTime {
    std::int64_t FMilliseconds = 0;

    auto operator<=>(const TDateTime&) const = default;
};

struct TDateTimeFields {
    int FYear = 1899, FMonth = 12, FDay = 30;
    int FHour = 0, FMinute = 0, FSecond = 0, FMillisecond = 0;
};

TDateTime EncodeDateTime(const TDateTimeFields& fields);
TDateTimeFields DecodeDateTime(TDateTime value);

// The current local date-time.
TDateTime Now();
// 00:00:00.000 at the start of the value's own day.
TDateTime StartOfDay(TDateTime value);
// Converts a POSIX time to local time with the UTC offset in force at that moment.
TDateTime LocalDateTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds);

// "HH:MM:SS" of the value's time of day (the run log's "hh:nn:ss").
std::string FormatTimeOfDay(TDateTime value);
// "hh:mm:ss" of a duration; 24 hours and more wrap, as a time of day does.
std::string FormatSpendTime(std::int64_t milliseconds);
// "yyyy.mm.dd": the day part of a run-log file name.
std::string FormatLogDate(TDateTime value);
// "yyyy年m月d日": the date line of a day file (UTF-8).
std::string FormatChineseDate(TDateTime value);

// The stored text of a date-time: "yyyy-MM-dd HH:mm:ss", or "yyyy-MM-dd" at exactly midnight.
std::string DateTimeToText(TDateTime value);
// Reads what DateTimeToText writes and the common short-date forms such as
// "2005/1/1 17:30:00", "2005-1-1" or "2005-01-01 00:00". Nothing else parses.
std::optional<TDateTime> TryTextToDateTime(const std::string& text);
