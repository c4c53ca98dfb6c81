#include "StaleAlert.h"

#include "JobRecord.h"

namespace {
constexpr long long MillisecondsPerDay = 86'400'000;
} // namespace

std::optional<int> StaleBackupDays(int staleDays, bool enabled, const TJobRunState& state, TDateTime now) {
    const std::optional<TDateTime> since = state.FLastCleanEnd ? state.FLastCleanEnd : state.FFirstStart;
    if (staleDays <= 0 || !enabled || !since) {
        return std::nullopt;
    }
    const long long elapsed = now.FMilliseconds - since->FMilliseconds;
    const long long days = elapsed < 0 ? 0 : elapsed / MillisecondsPerDay;
    if (days < staleDays) {
        return std::nullopt;
    }
    return static_cast<int>(days);
}

std::string StaleBackupText(int days) {
    return "已 " + std::to_string(days) + " 天未成功同步";
}

std::optional<int> ReadStaleBackupDays(const TIniFile& ini, const std::string& jobName, TDateTime now) {
    TJobRecord options;
    try {
        ReadJobOptions(ini, jobName, options);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
    const bool enabled = TextIsTrue(ini.ReadString(JobSection(jobName), JobKey::CbJobValid, "False"));
    return StaleBackupDays(options.FStaleDays, enabled, TJobState(ini.FileName()).Read(jobName), now);
}

bool TStaleNoticeDays::Claim(const std::string& jobName, TDateTime now) {
    const TDateTime today = StartOfDay(now);
    const auto told = FToldOn.find(jobName);
    if (told != FToldOn.end() && told->second == today) {
        return false;
    }
    const std::optional<bool> claimed = FState.ClaimStaleNotice(jobName, now);
    if (!claimed) {
        FToldOn[jobName] = today;
        return true;
    }
    return *claimed;
}
