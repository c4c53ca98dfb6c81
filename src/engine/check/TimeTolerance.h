#pragma once

#include "config/DateTime.h"

#include <cstdint>
#include <string>
#include <vector>

struct TProjectRecord;

// How closely two modification times must agree to count as equal: within
// FToleranceMs, or, for each ignored shift, within FToleranceMs of exactly
// that shift either way (a clock or time zone moved by whole hours).
struct TTimeTolerance {
    std::int64_t FToleranceMs = 0;
    std::vector<std::int64_t> FShiftsMs;
    // Both times are cut to whole seconds first: one side keeps no more (a
    // folder on another machine).
    bool FWholeSeconds = false;
};

// The "IgnoreTimeShift" text: whole minutes separated by "|", blanks around
// them and empty pieces ignored. Raises EConvertError on anything else.
std::vector<std::int64_t> ParseIgnoredShifts(const std::string& text);

// The tolerance of a project: its "TimeTolerance" seconds, or for "auto" two
// seconds when the source, the target or the deploy folder (empty outside
// deploy mode) lies on a FAT-family file system and none otherwise; with its
// ignored shifts; "auto" compares whole seconds when one of them keeps no
// finer times (a folder on another machine). Raises EConvertError on a bad "IgnoreTimeShift".
TTimeTolerance TimeToleranceFor(const TProjectRecord& project, const std::string& sourceRoot,
                                const std::string& targetRoot, const std::string& deployRoot);

// The seconds "auto" stands for with these folders (empty ones are left out).
int AutomaticToleranceSeconds(const std::string& sourceRoot, const std::string& targetRoot,
                              const std::string& deployRoot);

// Compares a target's time with its source's: negative when the target is
// older by more than the tolerance, positive when newer by more, 0 when they
// count as equal (also when the difference is an ignored shift, within the
// tolerance).
int CompareModifiedTimes(TDateTime target, TDateTime source, const TTimeTolerance& tolerance);

// True when the two times differ, yet count as equal through the tolerance or
// an ignored shift: such a pair is equal only when its sizes are equal too,
// so that a tolerance hides the clock's precision and never an edit.
bool EqualOnlyWithinTolerance(TDateTime target, TDateTime source, const TTimeTolerance& tolerance);
