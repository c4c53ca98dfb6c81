#include "DateTimeQt.h"

QDateTime ToQDateTime(TDateTime value) {
    const TDateTimeFields f = DecodeDateTime(value);
    return QDateTime(QDate(f.FYear, f.FMonth, f.FDay), QTime(f.FHour, f.FMinute, f.FSecond, f.FMillisecond));
}

TDateTime FromQDateTime(const QDateTime& value) {
    const QDate date = value.date();
    const QTime time = value.time();
    return EncodeDateTime(
        {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), time.msec()});
}
