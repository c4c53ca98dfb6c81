#include "StaleAlert.h"

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
