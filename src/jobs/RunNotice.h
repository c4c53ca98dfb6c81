#pragma once

#include "JobProcessor.h"
#include "config/IniFile.h"

#include <optional>
#include <string>
#include <vector>

// "[system]" "Notify": which ends of background runs are told on the desktop.
enum class TNotifyMode {
    OnFailure, // "失败时", also when the key is absent or unknown
    Always,    // "总是"
    Never,     // "从不"
};

inline const std::string NotifyKey = "Notify";
inline const std::string NotifyOnFailureValue = "失败时";
inline const std::string NotifyAlwaysValue = "总是";
inline const std::string NotifyNeverValue = "从不";

TNotifyMode NotifyModeOfValue(const std::string& value);
const std::string& NotifyModeValue(TNotifyMode mode);
TNotifyMode ReadNotifyMode(const TIniFile& ini);

// One desktop notice, as the window and the daemon send it (UTF-8 bytes).
struct TRunNotice {
    std::string FJobName;
    std::string FTitle;
    std::string FBody;
    // A failed item, a refused project, a stop or a stale backup.
    bool FProblem = false;
};

// The notice for the end of a job's run under mode, or none: "从不" tells
// nothing, "失败时" a run with a failed item, a refused project (the deletion
// guard included), a stop or an error that ended it (failureText), "总是"
// every run.
std::optional<TRunNotice> ChooseRunNotice(const std::string& jobName,
                                          const std::vector<TProjectRunResult>& results,
                                          const std::string& failureText, TNotifyMode mode);
// The notice of a stale backup under mode, or none ("从不").
std::optional<TRunNotice> ChooseStaleNotice(const std::string& jobName, int days, TNotifyMode mode);
