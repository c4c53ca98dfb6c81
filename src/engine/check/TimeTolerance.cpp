#include "TimeTolerance.h"

#include "engine/project/ProjectRecord.h"
#include "engine/volume/Volume.h"

#include "config/IniFile.h"

#include <cstdlib>

namespace {

constexpr std::int64_t MSecsPerMinute = 60 * 1000;
constexpr int FatToleranceSeconds = 2;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::vector<std::int64_t> ParseIgnoredShifts(const std::string& text) {
    std::vector<std::int64_t> shifts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('|', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string piece = Trimmed(text.substr(start, end - start));
        if (!piece.empty()) {
            std::size_t used = 0;
            long long minutes = 0;
            try {
                minutes = std::stoll(piece, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != piece.size() || minutes == 0 || std::llabs(minutes) > 7 * 24 * 60) {
                throw EConvertError("IgnoreTimeShift '" + text +
                                    "' is not a list of minutes separated by | (such as 60|120)");
            }
            shifts.push_back(std::llabs(minutes) * MSecsPerMinute);
        }
        start = end + 1;
    }
    return shifts;
}

int AutomaticToleranceSeconds(const std::string& sourceRoot, const std::string& targetRoot,
                              const std::string& deployRoot) {
    for (const std::string* root : {&sourceRoot, &targetRoot, &deployRoot}) {
        if (!root->empty() && OpenVolume(*root)->FileSystem().FTimeStepMs >= FatToleranceSeconds * 1000) {
            return FatToleranceSeconds;
        }
    }
    return 0;
}

TTimeTolerance TimeToleranceFor(const TProjectRecord& project, const std::string& sourceRoot,
                                const std::string& targetRoot, const std::string& deployRoot) {
    TTimeTolerance tolerance;
    const int seconds = project.FTimeTolerance == TimeToleranceAuto
                            ? AutomaticToleranceSeconds(sourceRoot, targetRoot, deployRoot)
                            : project.FTimeTolerance;
    tolerance.FToleranceMs = std::int64_t{seconds} * 1000;
    if (project.FTimeTolerance == TimeToleranceAuto) {
        for (const std::string* root : {&sourceRoot, &targetRoot, &deployRoot}) {
            if (!root->empty() && OpenVolume(*root)->FileSystem().FTimeStepMs == 1000) {
                tolerance.FWholeSeconds = true;
            }
        }
    }
    tolerance.FShiftsMs = ParseIgnoredShifts(project.FIgnoreTimeShift);
    return tolerance;
}

namespace {

std::int64_t FloorToSecond(std::int64_t ms) {
    const std::int64_t rest = ((ms % 1000) + 1000) % 1000;
    return ms - rest;
}

} // namespace

int CompareModifiedTimes(TDateTime target, TDateTime source, const TTimeTolerance& tolerance) {
    if (tolerance.FWholeSeconds) {
        target.FMilliseconds = FloorToSecond(target.FMilliseconds);
        source.FMilliseconds = FloorToSecond(source.FMilliseconds);
    }
    const std::int64_t difference = target.FMilliseconds - source.FMilliseconds;
    const std::int64_t size = std::llabs(difference);
    if (size <= tolerance.FToleranceMs) {
        return 0;
    }
    for (const std::int64_t shift : tolerance.FShiftsMs) {
        if (std::llabs(size - shift) <= tolerance.FToleranceMs) {
            return 0;
        }
    }
    return difference < 0 ? -1 : 1;
}

bool EqualOnlyWithinTolerance(TDateTime target, TDateTime source, const TTimeTolerance& tolerance) {
    return target.FMilliseconds != source.FMilliseconds &&
           CompareModifiedTimes(target, source, tolerance) == 0;
}
