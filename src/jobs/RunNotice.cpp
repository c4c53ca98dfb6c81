#include "RunNotice.h"

namespace {

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

// One line per project that did not end cleanly: what went wrong.
std::string ProblemLine(const TProjectRunResult& result) {
    if (!result.FCompleted) {
        // A refusal (a folder, the deletion guard) names its reason; a stop has none.
        return result.FProjectName + "：" + (result.FErrorText.empty() ? "中止" : result.FErrorText);
    }
    std::vector<std::string> parts;
    if (result.FNewFailed > 0) {
        parts.push_back("新建失败 " + std::to_string(result.FNewFailed) + " 项");
    }
    if (result.FUpdateFailed > 0) {
        parts.push_back("更新失败 " + std::to_string(result.FUpdateFailed) + " 项");
    }
    if (result.FDeleteFailed > 0) {
        parts.push_back("删除失败 " + std::to_string(result.FDeleteFailed) + " 项");
    }
    if (result.FCheckFailed > 0) {
        parts.push_back(std::to_string(result.FCheckFailed) + " 项无法检查");
    }
    return parts.empty() ? std::string() : result.FProjectName + "：" + Joined(parts, "，");
}

std::string DoneLine(const TProjectRunResult& result) {
    return result.FProjectName + "：完成，新建 " + std::to_string(result.FNewDone) + " 项，更新 " +
           std::to_string(result.FUpdateDone) + " 项，删除 " + std::to_string(result.FDeleteDone) + " 项";
}

} // namespace

TNotifyMode NotifyModeOfValue(const std::string& value) {
    if (value == NotifyAlwaysValue) {
        return TNotifyMode::Always;
    }
    if (value == NotifyNeverValue) {
        return TNotifyMode::Never;
    }
    return TNotifyMode::OnFailure;
}

const std::string& NotifyModeValue(TNotifyMode mode) {
    switch (mode) {
    case TNotifyMode::Always:
        return NotifyAlwaysValue;
    case TNotifyMode::Never:
        return NotifyNeverValue;
    case TNotifyMode::OnFailure:
        break;
    }
    return NotifyOnFailureValue;
}

TNotifyMode ReadNotifyMode(const TIniFile& ini) {
    return NotifyModeOfValue(ini.ReadString("system", NotifyKey, ""));
}

std::optional<TRunNotice> ChooseRunNotice(const std::string& jobName,
                                          const std::vector<TProjectRunResult>& results,
                                          const std::string& failureText, TNotifyMode mode) {
    if (mode == TNotifyMode::Never) {
        return std::nullopt;
    }
    std::vector<std::string> problems;
    for (const TProjectRunResult& result : results) {
        if (std::string line = ProblemLine(result); !line.empty()) {
            problems.push_back(std::move(line));
        }
    }
    if (!failureText.empty()) {
        problems.push_back("任务中断：" + failureText);
    }
    TRunNotice notice;
    notice.FJobName = jobName;
    notice.FProblem = !problems.empty();
    if (notice.FProblem) {
        notice.FTitle = "任务\"" + jobName + "\"同步失败";
        notice.FBody = Joined(problems, "\n");
        return notice;
    }
    if (mode != TNotifyMode::Always) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (const TProjectRunResult& result : results) {
        lines.push_back(DoneLine(result));
    }
    notice.FTitle = "任务\"" + jobName + "\"同步完成";
    notice.FBody = Joined(lines, "\n");
    return notice;
}

std::optional<TRunNotice> ChooseStaleNotice(const std::string& jobName, int days, TNotifyMode mode) {
    if (mode == TNotifyMode::Never) {
        return std::nullopt;
    }
    TRunNotice notice;
    notice.FJobName = jobName;
    notice.FProblem = true;
    notice.FTitle = "任务\"" + jobName + "\"已 " + std::to_string(days) + " 天未成功同步";
    notice.FBody = "请查看日志，检查源文件夹和目标文件夹是否可用。";
    return notice;
}
