#include "DateTime.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr std::int64_t MsPerDay = 86'400'000;

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// 1899-12-30 counted from 1970-01-01.
const std::int64_t EpochOffsetDays = DaysFromCivil(1899, 12, 30);

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Reads an unsigned decimal number of 1 to maxDigits digits at pos.
bool ReadNumber(const std::string& text, std::size_t& pos, int maxDigits, int& value) {
    int digits = 0;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < maxDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++digits;
    }
    return digits > 0;
}

} // namespace

TDateTime EncodeDateTime(const TDateTimeFields& f) {
    const std::int64_t days =
        DaysFromCivil(f.FYear, static_cast<unsigned>(f.FMonth), static_cast<unsigned>(f.FDay)) -
        EpochOffsetDays;
    const std::int64_t ms =
        ((static_cast<std::int64_t>(f.FHour) * 60 + f.FMinute) * 60 + f.FSecond) * 1000 + f.FMillisecond;
    return TDateTime{days * MsPerDay + ms};
}

TDateTimeFields DecodeDateTime(TDateTime value) {
    TDateTimeFields f;
    const std::int64_t days = FloorDiv(value.FMilliseconds, MsPerDay);
    std::int64_t ms = value.FMilliseconds - days * MsPerDay;
    CivilFromDays(days + EpochOffsetDays, f.FYear, f.FMonth, f.FDay);
    f.FMillisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    f.FSecond = static_cast<int>(ms % 60);
    ms /= 60;
    f.FMinute = static_cast<int>(ms % 60);
    f.FHour = static_cast<int>(ms / 60);
    return f;
}

TDateTime LocalDateTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    // Normalise so that the sub-second part is in [0, 1e9).
    seconds += FloorDiv(nanoseconds, 1'000'000'000);
    nanoseconds -= FloorDiv(nanoseconds, 1'000'000'000) * 1'000'000'000;
    const auto t = static_cast<time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    TDateTimeFields f;
    f.FYear = local.tm_year + 1900;
    f.FMonth = local.tm_mon + 1;
    f.FDay = local.tm_mday;
    f.FHour = local.tm_hour;
    f.FMinute = local.tm_min;
    f.FSecond = local.tm_sec > 59 ? 59 : local.tm_sec; // a leap second stays in its minute
    f.FMillisecond = static_cast<int>(nanoseconds / 1'000'000);
    return EncodeDateTime(f);
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return LocalDateTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

TDateTime StartOfDay(TDateTime value) {
    return TDateTime{FloorDiv(value.FMilliseconds, MsPerDay) * MsPerDay};
}

std::string FormatTimeOfDay(TDateTime value) {
    const TDateTimeFields f = DecodeDateTime(value);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", f.FHour, f.FMinute, f.FSecond);
    return text;
}

std::string FormatSpendTime(std::int64_t milliseconds) {
    std::int64_t seconds = FloorDiv(milliseconds, 1000);
    seconds -= FloorDiv(seconds, 86'400) * 86'400;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

std::string FormatLogDate(TDateTime value) {
    const TDateTimeFields f = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d.%02d.%02d", f.FYear, f.FMonth, f.FDay);
    return text;
}

std::string FormatChineseDate(TDateTime value) {
    const TDateTimeFields f = DecodeDateTime(value);
    return std::to_string(f.FYear) + "年" + std::to_string(f.FMonth) + "月" + std::to_string(f.FDay) + "日";
}

std::string DateTimeToText(TDateTime value) {
    const TDateTimeFields f = DecodeDateTime(value);
    char text[48];
    if (f.FHour == 0 && f.FMinute == 0 && f.FSecond == 0 && f.FMillisecond == 0) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", f.FYear, f.FMonth, f.FDay);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.FYear, f.FMonth, f.FDay, f.FHour,
                      f.FMinute, f.FSecond);
    }
    return text;
}

std::optional<TDateTime> TryTextToDateTime(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    TDateTimeFields f;
    f.FHour = f.FMinute = f.FSecond = f.FMillisecond = 0;
    if (!ReadNumber(text, pos, 4, f.FYear) || pos >= text.size() || (text[pos] != '-' && text[pos] != '/')) {
        return std::nullopt;
    }
    const char dateSeparator = text[pos++];
    if (!ReadNumber(text, pos, 2, f.FMonth) || pos >= text.size() || text[pos] != dateSeparator) {
        return std::nullopt;
    }
    ++pos;
    if (!ReadNumber(text, pos, 2, f.FDay)) {
        return std::nullopt;
    }
    if (f.FYear < 1 || f.FMonth < 1 || f.FMonth > 12 || f.FDay < 1 ||
        f.FDay > DaysInMonth(f.FYear, f.FMonth)) {
        return std::nullopt;
    }
    std::size_t timeStart = pos;
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    if (pos < text.size() && pos > timeStart) {
        if (!ReadNumber(text, pos, 2, f.FHour) || pos >= text.size() || text[pos] != ':') {
            return std::nullopt;
        }
        ++pos;
        if (!ReadNumber(text, pos, 2, f.FMinute)) {
            return std::nullopt;
        }
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!ReadNumber(text, pos, 2, f.FSecond)) {
                return std::nullopt;
            }
        }
        if (f.FHour > 23 || f.FMinute > 59 || f.FSecond > 59) {
            return std::nullopt;
        }
    }
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return EncodeDateTime(f);
}
