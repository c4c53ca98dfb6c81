#pragma once

#include "config/DateTime.h"

#include <QDateTime>

// The engine's local date-time and Qt's, at whole milliseconds.
QDateTime ToQDateTime(TDateTime value);
TDateTime FromQDateTime(const QDateTime& value);
